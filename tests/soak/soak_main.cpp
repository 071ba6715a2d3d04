// miravox_soak: runs the real program on a station whose schedule covers a week (or, with
// --short, three hours across a midnight), its clock and virtual devices MIRAVOX_CLOCK_RATE
// times as fast as real time, cuts its stream now and then, listens to its transmission device
// for the commercials, samples its memory and open descriptors, and checks afterwards what it
// did. Exit status 0 when everything was done.
//
//   miravox_soak --binary PATH [--short] [--days N] [--rate N] [--keep DIR]
// (rate: 120 for --short, 240 for the week unless given)

#include "soak.h"

#include "tcp_proxy.h"
#include "test_media.h"
#include "test_stream_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace miravox;
using namespace miravox::soak;
using Steady = std::chrono::steady_clock;

namespace {

struct Options {
    bool short_run = false;
    int days = 7;
    double rate = 0; // 0: 120 for the short run, 240 for the week
    QString binary;
    QString keep;
};

std::optional<Options> parse(const QStringList& args) {
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == "--short")
            o.short_run = true;
        else if (a == "--days" && has_value)
            o.days = args[++i].toInt();
        else if (a == "--rate" && has_value)
            o.rate = args[++i].toDouble();
        else if (a == "--binary" && has_value)
            o.binary = args[++i];
        else if (a == "--keep" && has_value)
            o.keep = args[++i];
        else
            return std::nullopt;
    }
    if (o.rate == 0)
        o.rate = o.short_run ? 120 : 240;
    if (o.binary.isEmpty() || o.days < 1 || !(o.rate >= 1 && o.rate <= 10000))
        return std::nullopt;
    return o;
}

pid_t launch(const Options& o, const Plan& plan, const QString& home, const QString& air) {
    QStringList env;
    for (char** e = environ; *e; ++e)
        if (!QByteArray(*e).startsWith("MIRAVOX_"))
            env << QString::fromLocal8Bit(*e);
    env << "QT_QPA_PLATFORM=offscreen"
        << "MIRAVOX_HOME=" + home << "MIRAVOX_CLOCK_START=" + plan.start.toString("yyyy-MM-ddTHH:mm:ss")
        << "MIRAVOX_CLOCK_RATE=" + QString::number(o.rate)
        << "MIRAVOX_AUDIO_DEVICES=capture:PRINCIPAL:" + air + ";silent:ESCUTA";
    std::vector<QByteArray> storage;
    for (const QString& s : env)
        storage.push_back(s.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& s : storage)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    QByteArray binary = QFile::encodeName(o.binary);
    char* argv[] = {binary.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = QFile::encodeName(home + "/program.out");
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, binary.constData(), &actions, nullptr, argv, envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

long status_field(pid_t pid, const char* name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name, 0) == 0)
            return std::stol(line.substr(std::string(name).size()));
    return -1;
}

Sample sample(pid_t pid, const Plan& plan, const QDateTime& now) {
    const QDir fd_folder("/proc/" + QString::number(pid) + "/fd");
    const int fds = int(fd_folder.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
    return Sample{double(plan.start.secsTo(now)) / 86400, status_field(pid, "VmRSS:"), fds,
                  int(status_field(pid, "Threads:")), plan.quiet_at(now)};
}

// The program's time, as far as the harness can tell: the program's clock is created when the
// window is, so the harness takes the time of its first log entry, when that entry appears.
class ProgramTime {
  public:
    ProgramTime(const QDateTime& at, double rate) : at_(at), real_(Steady::now()), rate_(rate) {}
    QDateTime now() const {
        const double real_ms = std::chrono::duration<double, std::milli>(Steady::now() - real_).count();
        return at_.addMSecs(qint64(real_ms * rate_));
    }

  private:
    QDateTime at_;
    Steady::time_point real_;
    double rate_;
};

// Waits for the program's first log entry; nothing when it ended first (`exited`) or never wrote.
std::optional<ProgramTime> wait_for_start(const QString& home, double rate, pid_t pid, bool& exited) {
    const auto deadline = Steady::now() + std::chrono::seconds(60);
    while (Steady::now() < deadline) {
        const std::vector<Entry> entries = read_operation_logs(home + "/LOGS");
        if (!entries.empty())
            return ProgramTime(entries.front().at, rate);
        exited = waitpid(pid, nullptr, WNOHANG) == pid;
        if (exited)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

// Listens to the transmission device. The program mixes it into a capture file (44100 Hz stereo
// 16-bit, after a 44-byte header) that this reads as it grows and frees behind itself, so that a
// week of audio never takes more than a few megabytes. Each run of the commercials' tone is an
// airing, dated by the program's time less the audio read since it began.
class AirWatch {
  public:
    AirWatch(const QString& path, const ProgramTime& clock)
        : path_(QFile::encodeName(path).toStdString()), clock_(clock), tone_(kSpotToneHz) {
        thread_ = std::thread([this] { run(); });
    }
    ~AirWatch() { stop(); }
    // Stops listening (after the program has ended: the last pass reads what it wrote last) and
    // returns what was heard.
    std::vector<Airing> stop() {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
        return airings_;
    }
    // Why listening went wrong, if it did.
    const QString& trouble() const { return trouble_; }

  private:
    static constexpr off_t kHeader = 44;
    static constexpr size_t kChunk = 1 << 20;

    void run() {
        while (!stop_ && fd_ < 0) {
            fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC); // writing: to free what was read
            if (fd_ < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::vector<char> bytes(kChunk);
        size_t held = 0; // bytes of an incomplete frame carried to the next read
        off_t offset = kHeader, freed = 0;
        for (bool last = false; fd_ >= 0;) {
            const ssize_t n = ::pread(fd_, bytes.data() + held, kChunk - held, offset);
            if (n > 0) {
                offset += n;
                held += size_t(n);
                hear(reinterpret_cast<const std::int16_t*>(bytes.data()), held / 4);
                std::memmove(bytes.data(), bytes.data() + held / 4 * 4, held % 4);
                held %= 4;
                freed = free_behind(offset, freed);
            }
            if (last)
                break;
            if (n < ssize_t(kChunk / 2)) {
                last = stop_;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        if (const auto run = tone_.finish())
            keep(*run);
        if (fd_ >= 0)
            ::close(fd_);
    }

    void hear(const std::int16_t* frames, size_t count) {
        for (const ToneRuns::Run& run : tone_.feed(frames, count))
            keep(run);
    }

    void keep(const ToneRuns::Run& run) {
        const double ago = ToneRuns::seconds(tone_.frames_fed() - run.first_frame);
        airings_.push_back(Airing{clock_.now().addMSecs(-qint64(ago * 1000)), ToneRuns::seconds(run.frames),
                                  ToneRuns::seconds(run.gap_frames)});
    }

    // Gives the pages already read back to the file system (the header's page stays).
    off_t free_behind(off_t offset, off_t freed) {
        const off_t upto = offset / 4096 * 4096;
        const off_t from = std::max<off_t>(freed, 4096);
        if (upto - from < off_t(kChunk))
            return freed;
        if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, from, upto - from) != 0 &&
            trouble_.isEmpty())
            trouble_ = "cannot free the audio already heard in " + QString::fromStdString(path_) + ": " +
                       QString::fromLocal8Bit(std::strerror(errno));
        return upto;
    }

    std::string path_;
    ProgramTime clock_;
    ToneRuns tone_;
    int fd_ = -1;
    std::vector<Airing> airings_;
    QString trouble_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

struct Cut {
    QDateTime at, until;
    bool done = false, restored = false;
};

// Quiet moments of the second half of the run after the warm-up may not find more of `value`
// than those of the first half.
bool flat(const std::vector<Sample>& samples, double from_days, int (*value)(const Sample&)) {
    std::vector<int> first, second;
    const double end = samples.empty() ? 0 : samples.back().program_days;
    for (const Sample& s : samples)
        if (s.quiet && s.program_days >= from_days)
            (s.program_days < (from_days + end) / 2 ? first : second).push_back(value(s));
    if (first.empty() || second.empty())
        return true; // too short a run to tell
    return *std::max_element(second.begin(), second.end()) <= *std::max_element(first.begin(), first.end());
}

// What the harness saw of the run.
struct Observed {
    std::vector<Sample> samples;
    std::vector<Airing> airings;
    QString air_trouble; // listening to the air failed
    bool started = false;
    bool ended_by_itself = false;
    bool ended_on_request = true;
    double wall_minutes = 0;
};

// Runs the program through the plan: cuts and restores its stream when a drop is due, samples
// its resources every 10 minutes of program time, and ends it once the plan is over.
Observed drive(const Options& o, const Plan& plan, const QString& home, const QString& air,
               testing::TcpProxy& proxy) {
    Observed seen;
    const auto wall_start = Steady::now();
    const pid_t pid = launch(o, plan, home, air);
    seen.started = pid > 0;
    if (!seen.started)
        return seen;
    std::vector<Cut> cuts;
    for (const Window& w : plan.windows)
        if (w.drop)
            cuts.push_back(Cut{QDateTime(w.day, w.drop_at), QDateTime(w.day, w.restore_at)});
    bool exited = false;
    const auto clock = wait_for_start(home, o.rate, pid, exited);
    seen.ended_by_itself = !clock;
    std::optional<AirWatch> listener;
    if (clock)
        listener.emplace(air, *clock);
    QDateTime next_sample = clock ? clock->now() : QDateTime();
    for (QDateTime now = next_sample; clock && now < plan.end; now = clock->now()) {
        for (Cut& c : cuts) {
            if (!c.done && now >= c.at) {
                proxy.cut();
                c.done = true;
            }
            if (c.done && !c.restored && now >= c.until) {
                proxy.restore();
                c.restored = true;
            }
        }
        if (now >= next_sample) {
            seen.samples.push_back(sample(pid, plan, now));
            next_sample = now.addSecs(600);
        }
        exited = waitpid(pid, nullptr, WNOHANG) == pid;
        if (exited) {
            seen.ended_by_itself = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!exited)
        seen.ended_on_request = stop(pid);
    if (listener) {
        seen.airings = listener->stop();
        seen.air_trouble = listener->trouble();
    }
    seen.wall_minutes = std::chrono::duration<double>(Steady::now() - wall_start).count() / 60;
    return seen;
}

struct Resources {
    double warm_up_days = 0;
    double rss_slope = 0, fd_slope = 0, thread_slope = 0;
    std::vector<Sample> quiet; // the quiet samples after the warm-up
};

// Memory may wander with the heap's fragmentation but not climb: a leak of a few bytes per tick
// or per commercial shows as more than this over a week.
constexpr double kMaxRssGrowthKbPerDay = 1024;

Resources resources(const Options& o, const std::vector<Sample>& samples, QStringList& failures) {
    Resources r;
    r.warm_up_days = o.short_run ? 0.04 : 1.0;
    r.rss_slope = slope_per_day(samples, r.warm_up_days, [](const Sample& s) { return s.rss_kb; });
    r.fd_slope = slope_per_day(samples, r.warm_up_days, [](const Sample& s) { return long(s.fds); });
    r.thread_slope = slope_per_day(samples, r.warm_up_days, [](const Sample& s) { return long(s.threads); });
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(r.quiet),
                 [&](const Sample& s) { return s.quiet && s.program_days >= r.warm_up_days; });
    if (!o.short_run && o.days >= 3 && r.rss_slope > kMaxRssGrowthKbPerDay)
        failures << "memory grew by " + QString::number(qRound(r.rss_slope)) + " KB a day";
    if (!flat(samples, r.warm_up_days, [](const Sample& s) { return s.fds; }))
        failures << "open descriptors grew";
    if (!flat(samples, r.warm_up_days, [](const Sample& s) { return s.threads; }))
        failures << "threads grew";
    return r;
}

template <class F> auto range_of(const std::vector<Sample>& samples, F value) {
    const auto [low, high] =
        std::minmax_element(samples.begin(), samples.end(),
                            [&](const Sample& a, const Sample& b) { return value(a) < value(b); });
    return std::make_pair(value(*low), value(*high));
}

void report(const Options& o, const Observed& seen, const Outcome& out, const Resources& r,
            const QStringList& failures) {
    std::printf("Soak: %s, clock rate %g, %.1f min wall time, %d log entries\n",
                o.short_run ? "3 hours across a midnight" : qPrintable(QString::number(o.days) + " days"),
                o.rate, seen.wall_minutes, out.entries);
    std::printf("  windows opened and closed on time: %d/%d\n", out.windows_opened_and_closed, out.windows);
    std::printf("  due commercials heard on the air once and whole: %d/%d; cut short: %d; not due aired: %d\n",
                out.spots_aired_once, out.spots_due, out.spots_cut_short, out.spots_not_due_aired);
    for (const QString& c : out.cut_short)
        std::printf("    cut short: %s\n", qPrintable(c));
    for (const QString& l : out.late)
        std::printf("    late (not failed): %s\n", qPrintable(l));
    for (const QString& d : out.dropouts)
        std::printf("    fell silent for a moment (not failed): %s\n", qPrintable(d));
    std::printf("  stream drops that fell back to music and came back: %d/%d\n", out.drops_fell_back,
                out.drops);
    std::printf("  date changes: %d; recoveries from a stalled channel (\"Erro de Buffer\"): %d\n",
                out.date_changes, out.buffer_recoveries);
    for (const QString& r : out.recoveries)
        std::printf("    recovery at %s\n", qPrintable(r));
    if (!r.quiet.empty()) {
        const auto rss = range_of(r.quiet, [](const Sample& s) { return s.rss_kb; });
        const auto fds = range_of(r.quiet, [](const Sample& s) { return s.fds; });
        const auto threads = range_of(r.quiet, [](const Sample& s) { return s.threads; });
        std::printf("  at %zu quiet moments after %.2f day(s): RSS %ld..%ld KB, slope %+.0f KB/day; "
                    "fds %d..%d, slope %+.2f/day; threads %d..%d, slope %+.2f/day\n",
                    r.quiet.size(), r.warm_up_days, rss.first, rss.second, r.rss_slope, fds.first, fds.second,
                    r.fd_slope, threads.first, threads.second, r.thread_slope);
    }
    for (const QString& f : failures)
        std::printf("  FAILED: %s\n", qPrintable(f));
    std::printf("%s\n", failures.isEmpty() ? "PASSED" : "FAILED");
}

void write_samples(const QString& path, const std::vector<Sample>& samples) {
    std::FILE* csv = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!csv)
        return;
    std::fprintf(csv, "program_days,rss_kb,fds,threads,quiet\n");
    for (const Sample& s : samples)
        std::fprintf(csv, "%.4f,%ld,%d,%d,%d\n", s.program_days, s.rss_kb, s.fds, s.threads, s.quiet ? 1 : 0);
    std::fclose(csv);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto options = parse(app.arguments());
    if (!options) {
        std::fprintf(stderr,
                     "usage: miravox_soak --binary PATH [--short] [--days N] [--rate N] [--keep DIR]\n");
        return 2;
    }
    const Options& o = *options;
    const Plan plan =
        o.short_run ? Plan::short_run(QDate(2026, 12, 5)) : Plan::week(QDate(2026, 12, 6), o.days);
    QTemporaryDir temp;
    const QString home = o.keep.isEmpty() ? temp.path() : QDir(o.keep).absolutePath();
    if (!o.keep.isEmpty())
        QDir(home).removeRecursively();
    QDir().mkpath(home);

    test::TestStreamServer server;
    test::AudioMount radio;
    const std::string mp3 = (home + "/radio.mp3").toStdString();
    radio.headers = {"icy-name:Radio Soak"};
    radio.bytes_per_second = int(16000 * o.rate); // 128 kbps at the program's pace
    if (!test::make_stream_mp3(mp3, 440, 20) || (radio.data = test::read_file(mp3)).empty()) {
        std::fprintf(stderr, "cannot make the stream's audio (ffmpeg)\n");
        return 1;
    }
    server.add_audio("/radio", radio);
    testing::TcpProxy proxy(server.port());
    if (!write_station(plan, home, QString::fromStdString(proxy.url("/radio"))) || !write_media(plan, home)) {
        std::fprintf(stderr, "cannot write the station in %s\n", qPrintable(home));
        return 1;
    }

    // The air's audio goes through memory, read and freed as it comes.
    const QString air = (QDir("/dev/shm").exists() ? QString("/dev/shm") : QDir::tempPath()) +
                        "/miravox-soak-air-" + QString::number(::getpid()) + ".wav";
    const Observed seen = drive(o, plan, home, air, proxy);
    QFile::remove(air);
    QStringList failures;
    if (!seen.started)
        failures << "cannot start " + o.binary;
    else if (seen.ended_by_itself)
        failures << "the program ended by itself or never wrote its log (see " + home + "/program.out)";
    else if (!seen.ended_on_request)
        failures << "the program did not end on SIGTERM";
    QStringList malformed;
    if (!seen.air_trouble.isEmpty())
        failures << seen.air_trouble;
    const Outcome out = check_run(plan, read_operation_logs(home + "/LOGS", &malformed), seen.airings,
                                  read_stalls(home + "/LOGS"));
    failures += out.failures;
    for (const QString& m : malformed)
        failures << "malformed log line: " + m;
    const Resources r = resources(o, seen.samples, failures);
    write_samples(home + "/samples.csv", seen.samples);
    report(o, seen, out, r, failures);
    return failures.isEmpty() ? 0 : 1;
}
