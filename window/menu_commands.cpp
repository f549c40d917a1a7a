// The four commands of the pop-up menu.
#include "window/messages.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

void ScreenKeyboard::MnuAbout_Click() { platform_.ShowMessage(kAboutTitle, kAboutText); }

void ScreenKeyboard::MnuEdition_Click() { platform_.ShowMessage(kEditionTitle, kEditionText); }

void ScreenKeyboard::MnuProgramme_Click() { platform_.ShowMessage(kProgrammeTitle, kProgrammeText); }

// Every step goes on whatever the one before it did: the platform reports no
// failure of minimising or of opening the address.
void ScreenKeyboard::MnuAuthor_Click() {
    platform_.Minimise();
    platform_.OpenAddress(kDownloadAddress);
}

}  // namespace vimbrel
