// Review tool: runs the desktop application on a real (usually virtual) X
// display, saves a picture of its main window as the display shows it, then
// quits through the tray's "Exit", answering the delete-cache question with
// "Yes" (a picture of that question is saved too), and checks what a first
// start must leave behind: the log's start banner and an empty cache folder.
// scripts/screenshot-gui runs it under Xvfb with an empty temporary HOME.
//
//     av_gui_screenshot <main-window.png> <quit-question.png>

#include "ArdentvaultApplication.h"
#include "ArdentvaultPortable.h"
#include "AvGlobalSettings.h"
#include "AvTray.h"

#include "settings/AvGlobalLibSettings.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include <cstdio>

namespace {

bool savePicture(QWidget* window, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // What the display shows, decorations of the window system aside; a
    // widget rendering is the fall-back where the screen cannot be read.
    QPixmap picture = window->screen()->grabWindow(window->winId());
    if (picture.isNull())
        picture = window->grab();
    const bool saved = picture.save(path, "PNG");
    std::printf(
        "%s %s (%dx%d)\n", saved ? "saved" : "FAILED to save", qPrintable(path), picture.width(), picture.height());
    return saved;
}

int countFiles(const QString& folder)
{
    int files = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++files;
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: av_gui_screenshot <main-window.png> <quit-question.png>\n");
        return 2;
    }
    const QString windowPicture = QFile::decodeName(argv[1]);
    const QString questionPicture = QFile::decodeName(argv[2]);
    int applicationArgc = 1;

    ArdentvaultApplication application(applicationArgc, argv);
    QTranslator programTexts;
    QTranslator toolkitTexts;
    ArdentvaultApplication::installTranslations(programTexts, toolkitTexts, QLocale::system().name());

    bool ok = true;
    ArdentvaultPortable* window = application.mainWindow();
    if (!QTest::qWaitForWindowExposed(window, 10000)) {
        std::printf("FAILED: the main window was not shown\n");
        return 1;
    }
    // Let the window paint before it is read back.
    QTest::qWait(300);
    ok &= savePicture(window, windowPicture);

    const QString cache = AvGlobalSettings::instance().getTempDir();
    {
        QFile opened(cache + QStringLiteral("/opened copy.txt"));
        ok &= opened.open(QIODevice::WriteOnly) && opened.write("plain text") > 0;
    }

    bool asked = false;
    const std::function<void()> answerQuestion = [&] {
        QWidget* question = QApplication::activeModalWidget();
        if (!question) {
            QTimer::singleShot(10, answerQuestion);
            return;
        }
        asked = true;
        ok &= QTest::qWaitForWindowExposed(question, 5000);
        QTest::qWait(200);
        ok &= savePicture(question, questionPicture);
        question->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Yes)->click();
    };
    QTimer::singleShot(0, answerQuestion);
    QTimer::singleShot(0, application.tray()->exitAction(), &QAction::trigger);
    const int exitCode = application.exec();

    const QString log =
        QFile::decodeName(AvGlobalLibSettings::instance().dataFolderPath().c_str()) + QStringLiteral("Ardentvault.log");
    QFile logFile(log);
    const bool banner = logFile.open(QIODevice::ReadOnly) && logFile.readAll().contains("Ardentvault Start: ");
    const int leftInCache = countFiles(cache);

    std::printf("event loop ended with %d after \"Exit\"\n", exitCode);
    std::printf("delete-cache question asked: %s\n", asked ? "yes" : "NO");
    std::printf("log banner in %s: %s\n", qPrintable(log), banner ? "yes" : "NO");
    std::printf("files left in the cache folder %s: %d\n", qPrintable(cache), leftInCache);
    ok &= exitCode == 0 && asked && banner && leftInCache == 0;
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
