#pragma once

// The prompts every window uses to talk to the user: four generic message
// boxes, the fixed messages for situations that recur across the program, and
// the change-password dialog. Each call builds its box, runs it modally on the
// user-interface thread and destroys it before returning.

#include <QString>

class QFile;

void showInformation(const QString& text, const QString& title);
void showWarning(const QString& text, const QString& title);
void showCritical(const QString& text, const QString& title);
// True when "Yes" was pressed. With `boxChoosesDefault` false "Yes" is the
// default button.
bool askYesNo(const QString& text, bool boxChoosesDefault, const QString& title);

// True at once while online; otherwise asks to go online and switches offline
// mode off when the user agrees.
bool askOnlineMode();
void showUnlockRequired();
// Names the signed-in account, if any, that cannot open the file.
void showNoAccess();
void showInvalidFile(const QFile& file);
// Always 0: the box only offers Cancel.
int showConnectionFailed();
// Changes the signed-in account's password; asks again until the change
// succeeds or the user cancels.
void changePasswordDialog();
