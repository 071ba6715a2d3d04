// Rebuilding the local music list (the "Músicas" tab's refresh, also run at the first activation):
// listing the folder, filling the grid and shuffling it, for folders of 1,000 and 10,000 files.
// Run offscreen: QT_QPA_PLATFORM=offscreen ./music_list_bench

#include "dialog_service.h"
#include "main_window.h"
#include "tessel_grid.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// Answers nothing and shows nothing: the benchmark has no operator.
class NoDialogs final : public miravox::DialogService {
  public:
    void information(const QString&) override {}
    bool CONFIRMA(const QString&) override { return false; }
    void MOSTRA_AVISO(const QString&) override {}
    QString choose_file(const QString&, const QString&, const QString&) override { return {}; }
    QString choose_folder(const QString&, const QString&) override { return {}; }
    void notice(const QString&) override {}
    void notice_aviso(const QString&) override {}
};

// A program folder whose music folder holds `files` names of one short WAV file.
bool make_station(const QString& home, int files) {
    const QString music = home + "/MUSICAS/";
    QDir().mkpath(music);
    QFile first(music + "T00000.WAV");
    if (!first.open(QIODevice::WriteOnly))
        return false;
    first.write(QByteArray("RIFF$\0\0\0WAVEfmt \x10\0\0\0\1\0\1\0D\xac\0\0\x88X\1\0\2\0\x10\0data\0\0\0\0", 44));
    first.close();
    for (int i = 1; i < files; ++i)
        if (::link(QFile::encodeName(first.fileName()),
                   QFile::encodeName(music + QString("T%1.WAV").arg(i, 5, 10, QChar('0')))) != 0)
            return false;
    return true;
}

void BM_MusicListRebuild(benchmark::State& state) {
    QTemporaryDir home;
    if (!make_station(home.path(), int(state.range(0)))) {
        state.SkipWithError("cannot make the music folder");
        return;
    }
    qputenv("MIRAVOX_HOME", home.path().toUtf8());
    NoDialogs dialogs;
    Tfrm_miravox window(dialogs);
    for (auto _ : state)
        window.bitbtn10Click();
    state.counters["rows"] = window.Stringgrid2->RowCount() - 1;
}
BENCHMARK(BM_MusicListRebuild)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("MIRAVOX_AUDIO_DEVICES", "silent:PRINCIPAL;silent:ESCUTA");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
