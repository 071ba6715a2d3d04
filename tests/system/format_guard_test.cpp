#include "format_guard.h"

#include "scripted_dialogs.h"

#include <gtest/gtest.h>

using namespace miravox;
using miravox::testing::ScriptedDialogs;

namespace {

const QString kTimeQuestion =
    "confirm: O Formato de HORA Padrão do Windows está em modo incompatível com o "
    "sistema Oravel\r\rDESEJA QUE O SOFTWARE ACERTE O FORMATO PADRÃO PARA HH:mm:ss ??";
const QString kDateQuestion =
    "confirm: O Formato de DATA Padrão do Windows está em modo incompatível com o "
    "sistema Oravel\r\rDESEJA QUE O SOFTWARE ACERTE O FORMATO PADRÃO PARA dd/MM/aaaa ??";
const QString kRefused = "info: Não foi possível efetuar a correção - Verifique";

// A user's formats, with a correction that may be refused.
class FakeFormats : public FormatSettings {
  public:
    FakeFormats(QString time, QString date) : time_(std::move(time)), date_(std::move(date)) {}
    QString time_format() const override { return time_; }
    QString short_date_format() const override { return date_; }
    bool set_time_format(const QString& f) override {
        corrections << "time=" + f;
        return accept_corrections;
    }
    bool set_short_date_format(const QString& f) override {
        corrections << "date=" + f;
        return accept_corrections;
    }

    QStringList corrections;
    bool accept_corrections = true;

  private:
    QString time_, date_;
};

struct Incompatible {
    const char* name;
    const char* time;
    const char* date;
    QStringList shown; // what the guard shows, answering OK to every question
};

class IncompatibleFormat : public ::testing::TestWithParam<Incompatible> {};

} // namespace

TEST_P(IncompatibleFormat, AsksToCorrectAndEndsTheStart) {
    const Incompatible& c = GetParam();
    FakeFormats formats(c.time, c.date);
    ScriptedDialogs dialogs;
    EXPECT_FALSE(VERIFICA_FORMATOS(formats, dialogs));
    EXPECT_EQ(dialogs.shown, c.shown);
    EXPECT_FALSE(formats.corrections.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Locales, IncompatibleFormat,
    ::testing::Values(
        // Midnight reads but writes back as "12:00:00 AM": only the question.
        Incompatible{"TwelveHourClock", "h:mm:ss AP", "dd/MM/yyyy", {kTimeQuestion}},
        Incompatible{"DashDate",
                     "HH:mm:ss",
                     "dd-MM-yyyy",
                     {"info: Formato de Data Inválido:dd-MM-yyyy", kDateQuestion}},
        Incompatible{
            "DashTime", "HH-mm-ss", "dd/MM/yyyy", {"info: Formato de Hora Inválido:HH-mm-ss", kTimeQuestion}},
        Incompatible{"YearFirst",
                     "HH:mm:ss",
                     "yyyy/MM/dd",
                     {"info: Formato de Data Inválido:yyyy/MM/dd", kDateQuestion}},
        Incompatible{"Both",
                     "h:mm:ss AP",
                     "dd-MM-yyyy",
                     {"info: Formato de Data Inválido:dd-MM-yyyy", kTimeQuestion, kDateQuestion}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatGuard, CompatibleFormatsPassSilently) {
    // Month-first with two-digit fields and "/" reads the test date the same way.
    for (const auto& [time, date] :
         {std::pair{"HH:mm:ss", "dd/MM/yyyy"}, std::pair{"HH:mm:ss", "MM/dd/yyyy"}}) {
        FakeFormats formats(time, date);
        ScriptedDialogs dialogs;
        EXPECT_TRUE(VERIFICA_FORMATOS(formats, dialogs)) << date;
        EXPECT_TRUE(dialogs.shown.isEmpty());
        EXPECT_TRUE(formats.corrections.isEmpty());
    }
    // The program's own formats: the start is never held up in production.
    ProcessFormatSettings process;
    ScriptedDialogs dialogs;
    EXPECT_TRUE(VERIFICA_FORMATOS(process, dialogs));
    EXPECT_TRUE(dialogs.shown.isEmpty());
}

TEST(FormatGuard, CancelToBothChangesNothingAndAsksAgainNextTime) {
    FakeFormats formats("h:mm:ss AP", "dd-MM-yyyy");
    for (int start = 0; start < 2; ++start) {
        ScriptedDialogs dialogs;
        dialogs.answers = {false, false};
        EXPECT_FALSE(VERIFICA_FORMATOS(formats, dialogs));
        EXPECT_EQ(dialogs.count_containing("DESEJA QUE O SOFTWARE ACERTE"), 2);
        EXPECT_TRUE(formats.corrections.isEmpty());
    }
}

TEST(FormatGuard, CorrectionsAreAskedForAndARefusalIsReported) {
    FakeFormats formats("h:mm:ss AP", "dd-MM-yyyy");
    ScriptedDialogs dialogs;
    dialogs.answers = {true, true};
    EXPECT_FALSE(VERIFICA_FORMATOS(formats, dialogs)); // the start ends even after a correction
    EXPECT_EQ(formats.corrections, QStringList({"time=HH:mm:ss", "date=dd/MM/yyyy"}));
    EXPECT_EQ(dialogs.count_containing("Não foi possível"), 0);

    FakeFormats refusing("h:mm:ss AP", "dd-MM-yyyy");
    refusing.accept_corrections = false;
    ScriptedDialogs answered;
    answered.answers = {true, false};
    EXPECT_FALSE(VERIFICA_FORMATOS(refusing, answered));
    EXPECT_EQ(answered.shown, QStringList({"info: Formato de Data Inválido:dd-MM-yyyy", kTimeQuestion,
                                           kRefused, kDateQuestion}));
    EXPECT_EQ(refusing.corrections, QStringList({"time=HH:mm:ss"}));
}
