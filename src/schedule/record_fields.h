#pragma once
// Field access on schedule records: a record is a line of fields each closed by "|", with
// an empty text before the first "|" (so field 1 is the text between the first two bars).

#include <QString>
#include <QStringList>

// Field N (from 1) of a "|"-separated record; empty for a missing or unclosed field, and
// the text before the first "|" for N <= 0. After each cut only the next 1000 characters
// are kept, so the tail of an overlong record reads as empty. Never fails.
QString PEGA_CAMPO(int N, QString S);

// S preceded by as many "0" as make it W long once its leading blanks (codes <= 32) are
// removed; S unchanged (blanks included) when it is already W long or longer.
QString PREENCHE_ZEROS(const QString& S, int W);

// The backup links of a stream window's record: field 10, zero or more links separated by
// blanks, in the order they are tried after the main link (field 3).
QStringList backup_links(const QString& record);
