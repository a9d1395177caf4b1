#include "AvAccountProcedures.h"

#include "AvAccountState.h"

namespace {

AvAccountProcedures::SignInProcedure& signInReplacement()
{
    static AvAccountProcedures::SignInProcedure procedure;
    return procedure;
}

AvAccountProcedures::SetupWizardProcedure& setupWizardReplacement()
{
    static AvAccountProcedures::SetupWizardProcedure procedure;
    return procedure;
}

} // namespace

bool AvAccountProcedures::signIn()
{
    if (signInReplacement())
        return signInReplacement()();
    // The sign-in dialog is not part of the program yet: nobody can sign in,
    // so the answer is the key ring's state as it stands.
    return AvAccountState::isSignedIn();
}

void AvAccountProcedures::runSetupWizard()
{
    if (setupWizardReplacement()) {
        setupWizardReplacement()();
        return;
    }
    // The setup wizard is not part of the program yet; the program starts
    // signed out, as after a cancelled wizard.
}

void AvAccountProcedures::replaceForTests(SignInProcedure signIn, SetupWizardProcedure setupWizard)
{
    signInReplacement() = std::move(signIn);
    setupWizardReplacement() = std::move(setupWizard);
}
