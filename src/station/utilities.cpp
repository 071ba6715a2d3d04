#include "utilities.h"

#include "dialog_service.h"
#include "text_file.h"

#include <QDirIterator>
#include <QFileInfo>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void LISTA_AUDIOS(const QString& folder, const QString& pattern, QStringList* list,
                  miravox::DialogService& dialogs, const PumpMessages& pump) {
    if (!list) {
        dialogs.notice(QStringLiteral("Lista de arquivos não foi criada"));
        return;
    }
    QDirIterator it(folder.trimmed(), QStringList{pattern.isEmpty() ? QStringLiteral("*") : pattern},
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (pump)
            pump();
        const QFileInfo info = it.fileInfo();
        if (info.isDir())
            continue;
        const QString name = info.fileName().toUpper();
        if (name.endsWith(".MP3") || name.endsWith(".WAV") || name.endsWith(".WMA"))
            list->append(name);
    }
    miravox::sort_lines(*list);
}

void LIBERA_MEMORIA(const PumpMessages& pump) {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    if (pump)
        pump();
}
