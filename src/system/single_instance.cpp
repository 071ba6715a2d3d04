#include "single_instance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace miravox {

SingleInstance::SingleInstance(const QString& key) : key_(key) {}

QString SingleInstance::key_for(const QString& program_folder) {
    const QByteArray hash = QCryptographicHash::hash(program_folder.toUtf8(), QCryptographicHash::Sha1).toHex();
    return "Tfrm_miravox-" + QString::fromLatin1(hash.left(16));
}

bool SingleInstance::another_is_running() {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("restore\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void()> restore) {
    QLocalServer::removeServer(key_); // a socket file left by a copy that crashed
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this, restore] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            restore();
        }
    });
    return server_.listen(key_);
}

} // namespace miravox
