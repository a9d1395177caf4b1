#include "ArdentvaultApplication.h"

#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv)
{
    ArdentvaultApplication application(argc, argv);
    QTranslator programTexts;
    QTranslator toolkitTexts;
    ArdentvaultApplication::installTranslations(programTexts, toolkitTexts, QLocale::system().name());
    return application.exec();
}
