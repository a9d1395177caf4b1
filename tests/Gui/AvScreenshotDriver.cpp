// Review tool: runs the desktop application on a real (usually virtual) X
// display, saves pictures of its main window and of the tray's menu as the
// display shows them, then quits through the tray's "Exit", answering the
// delete-cache question with "Yes" (a picture of that question is saved too),
// and checks what a first start must leave behind: the log's start banner and
// an empty cache folder. scripts/screenshot-gui runs it under Xvfb with an
// empty temporary HOME.
//
//     av_gui_screenshot <output-folder>
//
// writes main-window.png, tray-menu.png, overwrite-question.png,
// retry-question.png, online-mode-question.png, about.png and
// quit-question.png there.

#include "ArdentvaultApplication.h"
#include "ArdentvaultPortable.h"
#include "AvAboutDialog.h"
#include "AvGlobalSettings.h"
#include "AvOverwriteDialog.h"
#include "AvRetryDialog.h"
#include "AvTray.h"
#include "AvUserPrompts.h"

#include "settings/AvGlobalLibSettings.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QMenu>
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: av_gui_screenshot <output-folder>\n");
        return 2;
    }
    const QString folder = QFile::decodeName(argv[1]);
    const QString windowPicture = folder + QStringLiteral("/main-window.png");
    const QString menuPicture = folder + QStringLiteral("/tray-menu.png");
    const QString questionPicture = folder + QStringLiteral("/quit-question.png");
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

    // The menu as a click on the tray icon opens it.
    QMenu* menu = application.tray()->menu();
    application.tray()->updateEntriesVisibility();
    menu->popup(window->mapToGlobal(QPoint(40, 40)));
    ok &= QTest::qWaitForWindowExposed(menu, 5000);
    QTest::qWait(200);
    ok &= savePicture(menu, menuPicture);
    menu->close();

    // The common dialogs, each pictured while it runs and then dismissed.
    const auto pictureNextModal = [&](const QString& path, const std::function<void(QWidget*)>& dismiss) {
        auto* poller = new QTimer(&application);
        poller->setInterval(10);
        QObject::connect(poller, &QTimer::timeout, [&, poller, path, dismiss] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            poller->stop();
            poller->deleteLater();
            ok &= QTest::qWaitForWindowExposed(dialog, 5000);
            QTest::qWait(200);
            ok &= savePicture(dialog, path);
            dismiss(dialog);
        });
        poller->start();
    };
    pictureNextModal(folder + QStringLiteral("/overwrite-question.png"),
        [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    AvOverwriteDialog::ask(QFile(QStringLiteral("/home/user/Cloud/Reports/quarterly report.pdf.avlt")));
    pictureNextModal(folder + QStringLiteral("/retry-question.png"),
        [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    AvRetryDialog::ask(QFile(QStringLiteral("/home/user/Cloud/Reports/locked.xlsx")));
    pictureNextModal(folder + QStringLiteral("/online-mode-question.png"),
        [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    AvGlobalSettings::instance().setOfflineMode(true);
    askOnlineMode();
    AvGlobalSettings::instance().setOfflineMode(false);
    pictureNextModal(
        folder + QStringLiteral("/about.png"), [](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    {
        AvAboutDialog about;
        about.exec();
    }

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
