#pragma once

// Support for the desktop application's tests. AvGuiTest gives every test a
// temporary HOME with the settings store inside it, a signed-out key ring and
// an application object (offscreen). AvNextDialog answers the next modal
// window from the test, so code that runs a dialog can be driven without a
// person and without waiting on the clock.

#include "AvTempHome.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>

class QWidget;

class AvGuiTest : public AvTempHome
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Tests of the application object build their own QApplication.
    virtual bool needsApplication() const { return true; }

    // Signs a local account in, as the key ring holds it after a sign-in
    // (credentials and the unlocked state; no key-ring file).
    static void signInAs(const std::string& login);
    static void signOut();
};

// Makes sure a QApplication exists for tests that do not build their own.
void ensureApplication();

// Answers the next modal window that opens: `answer` runs with it while it is
// shown and must close it (click a button, reject()). The answer is called at
// most once; destroying the object cancels it.
class AvNextDialog : public QObject
{
public:
    explicit AvNextDialog(std::function<void(QWidget*)> answer);

    bool answered() const { return m_answered; }
    // Title and text of the window answered (text: a message box's text).
    const QString& title() const { return m_title; }
    const QString& text() const { return m_text; }

private:
    void poll();

    std::function<void(QWidget*)> m_answer;
    bool m_answered = false;
    int m_polls = 0;
    QString m_title;
    QString m_text;
};

// Clicks the button with the given object name or text inside `window`.
void clickButton(QWidget* window, const QString& nameOrText);
// Clicks a message box's standard button.
void clickStandardButton(QWidget* messageBox, int standardButton);
