#pragma once
// The program folder: where MIRAVOX.INI, LOGS/ and (by default) DADOS/ and MUSICAS/ live.

#include <QString>

namespace miravox {

// The folder of the running executable, ending with "/". The environment variable
// MIRAVOX_HOME names another folder (several stations on one machine, tests); a
// trailing separator is added when missing. An executable installed under /usr (the package)
// takes ~/miravox/ instead of its own folder.
QString program_folder();

} // namespace miravox

// The name the rest of the program uses.
inline QString PASTA_PROGRAMA() { return miravox::program_folder(); }
