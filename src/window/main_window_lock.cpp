// The password panel of the locked window. Playout never stops for the lock; only the schedules,
// editors and playout controls are out of reach while it is on.

#include "main_window.h"

#include "configuration.h"
#include "dialog_service.h"

#include <QLineEdit>
#include <QTabWidget>

#include <limits>

// "OK", or Enter in the password field. The comparison is exact: nothing trimmed, case counts.
void Tfrm_miravox::SpeedButton1Click() {
    if (Edit1->text() == WSENHA) {
        PageControl1->setCurrentIndex(0);
        PageControl1->setVisible(true);
        WACESSO = true;
        return;
    }
    SALVA_LOGS("Tentativa de Acesso: Senha Inválida");
    dialogs.information("Senha Inválida - Verifique");
    // The count is never reset, not even by the right password; it stops at its top instead of
    // wrapping back to zero, so the third-strike rule keeps holding.
    if (WTENTATIVAS < std::numeric_limits<decltype(WTENTATIVAS)>::max())
        ++WTENTATIVAS;
    // Not a shutdown: the close handler clears the field, keeps the lock and minimises.
    if (WTENTATIVAS >= 3)
        close();
}
