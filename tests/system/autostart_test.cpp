#include "autostart.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace miravox;

namespace {

// Points the user's configuration folder at a fresh temporary folder for one test.
class AutostartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        previous = qgetenv("XDG_CONFIG_HOME");
        had_previous = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }
    void TearDown() override {
        if (had_previous)
            qputenv("XDG_CONFIG_HOME", previous);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    QString entry() const { return config.path() + "/autostart/Oravel Mira-Vox.desktop"; }
    QByteArray content() const {
        QFile file(entry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList lines() const { return QString::fromUtf8(content()).split('\n', Qt::SkipEmptyParts); }

    QTemporaryDir config;
    QByteArray previous;
    bool had_previous = false;
};

} // namespace

TEST_F(AutostartTest, EntryStartsTheProgramFromItsFolder) {
    ASSERT_FALSE(QDir(config.path() + "/autostart").exists());
    ASSERT_TRUE(CRIA_ATALHO("/opt/miravox/miravox", "", "/opt/miravox/", kAutostartName));

    EXPECT_EQ(autostart_entry_path(kAutostartName), entry());
    EXPECT_TRUE(EXISTE_ATALHO(kAutostartName));
    EXPECT_FALSE(content().contains('\r'));
    EXPECT_TRUE(content().endsWith('\n'));
    EXPECT_EQ(lines(),
              QStringList({"[Desktop Entry]", "Type=Application", "Version=1.0", "Name=Oravel Mira-Vox",
                           R"(Exec="/opt/miravox/miravox")", "Path=/opt/miravox", "Terminal=false",
                           "X-GNOME-Autostart-enabled=true"}));
}

TEST_F(AutostartTest, StationFolderApartFromTheProgramIsNamedInTheEntry) {
    ASSERT_TRUE(CRIA_ATALHO("/usr/bin/miravox", "", "/srv/rádio alfa/", kAutostartName));
    EXPECT_TRUE(lines().contains(R"(Exec=env "MIRAVOX_HOME=/srv/rádio alfa/" "/usr/bin/miravox")"));
    EXPECT_TRUE(lines().contains("Path=/srv/rádio alfa"));
}

TEST_F(AutostartTest, ReservedCharactersAreQuotedAndEscaped) {
    ASSERT_TRUE(CRIA_ATALHO(R"(/opt/a "b"/$x\y/100%/miravox)", "-v %1", R"(/opt/a "b"/$x\y/100%)",
                            "Oravel Mira-Vox"));
    // Quoting escapes " $ \ with a backslash, the value escape doubles every backslash, and
    // the Exec field doubles "%".
    EXPECT_TRUE(lines().contains(R"(Exec="/opt/a \\"b\\"/\\$x\\\\y/100%%/miravox" -v %%1)"));
    EXPECT_TRUE(lines().contains(R"(Path=/opt/a "b"/$x\\y/100%)"));
}

TEST_F(AutostartTest, ExistsAndDeleteFollowTheFile) {
    EXPECT_TRUE(APAGA_ATALHO(kAutostartName)); // nothing to delete is not a failure
    ASSERT_TRUE(CRIA_ATALHO("/opt/miravox/miravox", "", "/opt/miravox/", kAutostartName));
    ASSERT_TRUE(CRIA_ATALHO("/opt/miravox/miravox", "", "/opt/miravox/", kAutostartName)); // rewrite
    EXPECT_TRUE(APAGA_ATALHO(kAutostartName));
    EXPECT_FALSE(EXISTE_ATALHO(kAutostartName));
}

TEST_F(AutostartTest, FailuresAreReportedNeverAssumedDone) {
    // A file where the folder should be: the folder cannot be made (also as root).
    QFile blocker(config.path() + "/autostart");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString reason;
    EXPECT_FALSE(CRIA_ATALHO("/opt/miravox/miravox", "", "/opt/miravox/", kAutostartName, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(EXISTE_ATALHO(kAutostartName));
    ASSERT_TRUE(QFile::remove(blocker.fileName()));

    // A folder in place of the entry cannot be written over nor deleted as a file.
    ASSERT_TRUE(QDir().mkpath(entry() + "/inside"));
    reason.clear();
    EXPECT_FALSE(CRIA_ATALHO("/opt/miravox/miravox", "", "/opt/miravox/", kAutostartName, &reason));
    EXPECT_FALSE(reason.isEmpty());
    reason.clear();
    EXPECT_FALSE(APAGA_ATALHO(kAutostartName, &reason));
    EXPECT_FALSE(reason.isEmpty());
}

TEST_F(AutostartTest, FolderFollowsTheBaseDirectoryRules) {
    QTemporaryDir home;
    const QByteArray previous_home = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", "relative/config"); // ignored: not absolute
    EXPECT_EQ(autostart_folder(), home.path() + "/.config/autostart");
    qputenv("HOME", previous_home);
}
