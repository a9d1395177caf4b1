#pragma once

// AvAccountProcedures: the two account procedures the shell starts, the
// sign-in procedure and the setup wizard, each behind one function so that
// the start-up sequence and the tray reach them the same way. Tests replace
// them to watch the start-up order without opening the real windows.

#include <functional>

class AvAccountProcedures
{
public:
    using SignInProcedure = std::function<bool()>;
    using SetupWizardProcedure = std::function<void()>;

    // The sign-in procedure in its start-up form: no file to open, no parent
    // window. True when an account is signed in afterwards.
    static bool signIn();
    // The setup wizard for a new or existing account, run modally to the end.
    static void runSetupWizard();

    // Test hook: replaces the procedures; empty functions restore the real ones.
    static void replaceForTests(SignInProcedure signIn, SetupWizardProcedure setupWizard);
};
