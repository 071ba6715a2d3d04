// Miravox: unattended radio playout. The program entry: one copy per program folder, the
// regional-format guard, the splash window, then the main window until a confirmed shutdown.

#include "configuration.h"
#include "dialog_service.h"
#include "format_guard.h"
#include "main_window.h"
#include "program_folder.h"
#include "proof_of_play.h"
#include "service_notify.h"
#include "setup_dialog.h"
#include "single_instance.h"
#include "splash_window.h"
#include "station_publisher.h"
#include "status_server.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>

namespace {

// "--relatorio-comerciais FROM TO [--csv] [--html FILE]": prints the commercials report (or
// writes the statement, with the station's name from MIRAVOX.INI) and ends, without a window or
// a sound device.
int print_commercials_report(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString text;
    miravox::apply_configuration(miravox::read_configuration_file(PASTA_PROGRAMA() + miravox::kConfigFileName),
                                 PASTA_PROGRAMA());
    const QString station = miravox::station_name();
    const int code = miravox::commercials_report_command(app.arguments().mid(2), PASTA_PROGRAMA() + "LOGS/",
                                                         text, station);
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), code == 0 ? stdout : stderr);
    return code;
}

} // namespace

int main(int argc, char** argv) {
    if (const int code = miravox::service_command(argc, argv); code >= 0)
        return code;
    if (argc >= 2 && QString::fromLocal8Bit(argv[1]) == miravox::kReportOption)
        return print_commercials_report(argc, argv);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);

    miravox::SingleInstance instance(miravox::SingleInstance::key_for(PASTA_PROGRAMA()));
    if (instance.another_is_running()) {
        QMessageBox::information(nullptr, "Aplicativo já aberto", "Aplicativo já está aberto. Verifique !");
        return 0;
    }

    miravox::QtDialogService dialogs;
    miravox::ProcessFormatSettings formats;
    if (!VERIFICA_FORMATOS(formats, dialogs))
        return 0;

    {
        Tform_abertura splash;
        splash.exec();
    }
    QApplication::setApplicationDisplayName(miravox::kApplicationTitle);
    app.setApplicationName(miravox::kApplicationTitle);

    Tfrm_miravox window(dialogs);
    window.open_setup_dialog = [&window, &dialogs] {
        TForm_Setup setup(window, dialogs);
        setup.exec();
    };
    instance.listen([&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    // Declared after the window, so it stops before the window goes.
    const auto status_panel = start_status_panel(window);
    return app.exec();
}
