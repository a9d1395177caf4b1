#pragma once

// ArdentvaultApplication: the application object. Its constructor brings the
// program up in a fixed order: settings into the library, the log's start
// banner, translations, the tray, the main window, then the setup wizard on a
// computer where nobody has signed in yet or the sign-in procedure otherwise,
// and finally shows the main window. It routes the desktop's requests to quit
// (through the tray's "Exit") and to open a file (to the main window). A path
// given on the command line is treated as such a file-open request.

#include <QApplication>
#include <QString>

#include <memory>

class ArdentvaultPortable;
class AvTray;
class QTranslator;

class ArdentvaultApplication : public QApplication
{
    Q_OBJECT

public:
    ArdentvaultApplication(int& argc, char** argv);
    ~ArdentvaultApplication() override;

    ArdentvaultPortable* mainWindow() const { return m_mainWindow.get(); }
    AvTray* tray() const { return m_tray.get(); }
    // The path of the last file-open request.
    const QString& pendingOpenFile() const { return m_pendingOpenFile; }

    // Loads the program's and the toolkit's translations for a locale name
    // such as "de_DE" (falling back to "de") and installs each one that
    // loaded and is not empty. Unknown languages leave the English texts.
    static void installTranslations(QTranslator& programTexts, QTranslator& toolkitTexts, const QString& localeName);

protected:
    bool event(QEvent* event) override;

private:
    void chooseFirstInteraction();
    // Queues the first command-line path (made absolute against the folder
    // the program was started in) as a file-open request.
    void postCommandLineFile(const QString& startFolder);

    QString m_pendingOpenFile;
    std::unique_ptr<ArdentvaultPortable> m_mainWindow;
    std::unique_ptr<AvTray> m_tray;
};
