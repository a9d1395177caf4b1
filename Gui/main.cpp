#include "ArdentvaultApplication.h"
#include "server/AvKeyServerClient.h"

#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv)
{
    // Before the application object: its start-up may already sign in.
    installKeyServerClient();
    ArdentvaultApplication application(argc, argv);
    QTranslator programTexts;
    QTranslator toolkitTexts;
    ArdentvaultApplication::installTranslations(programTexts, toolkitTexts, QLocale::system().name());
    return application.exec();
}
