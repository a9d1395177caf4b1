#include "AvGuiTest.h"

#include "AvGlobalSettings.h"

#include "crypto/AvCredentials.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

#include <memory>

namespace {

int g_argc = 1;
char g_programName[] = "test_gui";
char* g_argv[] = { g_programName, nullptr };

// Enough rounds of the event loop for any dialog to come up; a missing dialog
// then ends the polling instead of spinning for ever.
constexpr int kMaxPolls = 2000;

} // namespace

void ensureApplication()
{
    if (!QApplication::instance())
        new QApplication(g_argc, g_argv);
}

void AvGuiTest::SetUp()
{
    AvTempHome::SetUp();
    AvGlobalSettings::instance();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(home() + "/.config"));
    createDocumentsFolder();
    AvLog::setLogPath(dataFolder() + "Ardentvault.log");
    AvLog::setEnabled(true);
    AvKeyring::instance().Reset();
    if (needsApplication())
        ensureApplication();
}

void AvGuiTest::TearDown()
{
    AvKeyring::instance().Reset();
    AvLog::setEnabled(false);
    AvTempHome::TearDown();
}

void AvGuiTest::signInAs(const std::string& login)
{
    AvKeyring& keyring = AvKeyring::instance();
    keyring.Reset();
    keyring.credentials = std::make_unique<AvCredentials>(login, SecureString("Secret-Pass1"), 0);
    keyring.unlocked = true;
}

void AvGuiTest::signOut()
{
    AvKeyring::instance().Reset();
}

AvNextDialog::AvNextDialog(std::function<void(QWidget*)> answer)
    : m_answer(std::move(answer))
{
    QTimer::singleShot(0, this, [this] { poll(); });
}

void AvNextDialog::poll()
{
    QWidget* window = QApplication::activeModalWidget();
    if (!window || !window->isVisible()) {
        if (++m_polls < kMaxPolls)
            QTimer::singleShot(0, this, [this] { poll(); });
        return;
    }
    m_answered = true;
    m_title = window->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(window))
        m_text = box->text();
    m_answer(window);
}

void clickButton(QWidget* window, const QString& nameOrText)
{
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->objectName() == nameOrText || button->text() == nameOrText) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << nameOrText.toStdString() << " in " << window->windowTitle().toStdString();
}

void clickStandardButton(QWidget* messageBox, int standardButton)
{
    auto* box = qobject_cast<QMessageBox*>(messageBox);
    ASSERT_NE(box, nullptr);
    QAbstractButton* button = box->button(QMessageBox::StandardButton(standardButton));
    ASSERT_NE(button, nullptr);
    button->click();
}
