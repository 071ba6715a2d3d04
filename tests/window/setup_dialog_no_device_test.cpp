// The setup dialog on a machine whose only sound device has no name: the device lists stay
// empty, the operator is told, and a save records -1 for both devices.

#include "setup_dialog.h"

#include "main_window_fixture.h"

#include <QComboBox>

using namespace miravox;
using namespace miravox::testing;

namespace {

class NoSoundDevice : public MainWindowTest {
  protected:
    // Set before the engine first lists its devices (once per test program).
    static void SetUpTestSuite() { qputenv("MIRAVOX_AUDIO_DEVICES", "silent: "); }
};

} // namespace

TEST_F(NoSoundDevice, ListsStayEmptyWithAMessageAndSaveWritesMinusOne) {
    const QString message = "info: Não foi Detectado placa de som - Verifique";
    dialogs.shown.clear();
    TForm_Setup setup(*window, dialogs);
    setup.show();
    EXPECT_EQ(dialogs.shown, QStringList({message, message}));
    EXPECT_EQ(setup.ComboBox1->count(), 0);
    EXPECT_EQ(setup.ComboBox2->count(), 0);

    setup.BitBtn13Click();
    EXPECT_EQ(dialogs.count_containing("Não foi Detectado"), 3);

    dialogs.shown.clear();
    setup.BitBtn1Click();
    auto file = read_text_file(program_folder() + kConfigFileName, nullptr, false);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->lines.mid(4, 2), QStringList({"DVTRA=-1", "DVCUE=-1"}));
}
