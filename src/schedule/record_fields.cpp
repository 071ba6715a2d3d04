#include "record_fields.h"

#include <QRegularExpression>

QString PEGA_CAMPO(int N, QString S) {
    for (int cuts = 0; cuts < N; ++cuts) {
        const qsizetype bar = S.indexOf('|');
        if (bar < 0)
            break;
        S = S.mid(bar + 1, 1000);
    }
    const qsizetype bar = S.indexOf('|');
    return bar < 0 ? QString() : S.left(bar);
}

QString PREENCHE_ZEROS(const QString& S, int W) {
    qsizetype first = 0;
    while (first < S.size() && S[first].unicode() <= 32)
        ++first;
    const QString T = S.mid(first);
    if (W > T.size())
        return QString(W - T.size(), '0') + T;
    return S;
}

QStringList backup_links(const QString& record) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return PEGA_CAMPO(10, record).split(blanks, Qt::SkipEmptyParts);
}
