#pragma once
// One running copy per program folder: the first copy listens on a local socket named after
// the main window class and the folder; a second copy finds it there and asks it to restore
// its window.
// Thread rules: main thread only.

#include <QLocalServer>
#include <QString>

#include <functional>

namespace miravox {

class SingleInstance {
public:
    explicit SingleInstance(const QString& key);
    // True when another copy is running; that copy has been asked to restore its window.
    bool another_is_running();
    // Starts listening; `restore` runs whenever a later copy asks.
    bool listen(std::function<void()> restore);

    static QString key_for(const QString& program_folder);

private:
    QString key_;
    QLocalServer server_;
};

} // namespace miravox
