// The preferences window, the main window's menu and language switch, and the about window,
// on the test desktop with a private settings store.

#include "sc-about-window.h"
#include "sc-main-window.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "sc-translator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList items(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

QStringList keys(int first, int last, const QStringList &without = {})
{
    QStringList list {QStringLiteral("None")};
    for (int i = first; i <= last; ++i) {
        const QString key = QStringLiteral("F%1").arg(i);
        if (!without.contains(key))
            list << key;
    }
    return list;
}

} // namespace

// Collects the addresses the program hands to the desktop instead of opening a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase();
    void initTestCase();
    void init();
    void hotkeyCombosExcludeEachOther();
    void saveWritesEverythingThenSignalsOnce();
    void cancelKeepsOnlyFolderChoices();
    void mouseBoxesFollowEachOther();
    void menuChecksStoredLanguageAndSwitchesAtOnce();
    void aboutLinkOpensOnce();

private:
    std::unique_ptr<SCSettingsWindow> openPreferences();
    UrlCatcher m_urls;
    std::shared_ptr<SCTranslator> m_translator;
};

void TestPreferences::initTestCase()
{
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_urls, "open");
    m_translator = std::make_shared<SCTranslator>();
    QVERIFY(m_translator->load(QStringLiteral("en_US")));
    QCoreApplication::installTranslator(m_translator.get());
}

void TestPreferences::init()
{
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.clear();
    SCSettings::applyDefaults(settings);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, QStringLiteral("F9"));
    settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, QStringLiteral("F10"));
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    m_urls.urls.clear();
}

std::unique_ptr<SCSettingsWindow> TestPreferences::openPreferences()
{
    auto window = std::make_unique<SCSettingsWindow>(nullptr);
    window->show();
    return window;
}

void TestPreferences::hotkeyCombosExcludeEachOther()
{
    auto window = openPreferences();
    auto *recording = window->findChild<QComboBox *>("recordingComboBox");
    auto *screenshot = window->findChild<QComboBox *>("screenshotComboBox");
    QCOMPARE(items(recording), keys(1, 9));
    QCOMPARE(recording->currentText(), QStringLiteral("F9"));
    QCOMPARE(items(screenshot), keys(1, 10, {"F9"}));
    QCOMPARE(screenshot->currentText(), QStringLiteral("F10"));

    recording->setCurrentIndex(recording->findText("F5"));
    QCOMPARE(recording->currentText(), QStringLiteral("F5"));
    QCOMPARE(items(screenshot), keys(1, 10, {"F5"}));
    QCOMPARE(screenshot->currentText(), QStringLiteral("F10"));
    QCOMPARE(items(recording), keys(1, 9));

    recording->setCurrentIndex(0);
    screenshot->setCurrentIndex(0);
    QCOMPARE(items(recording), keys(1, 10));
    QCOMPARE(items(screenshot), keys(1, 10));

    // "None" is stored as the word, and leaves the main window without that hotkey.
    window->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Save)->click();
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(settings.value(SCSettings::HOTKEYS_SCREENSHOT).toString(), QStringLiteral("None"));
}

void TestPreferences::saveWritesEverythingThenSignalsOnce()
{
    auto window = openPreferences();
    QStringList seenAtSignal;
    connect(window.get(), &SCSettingsWindow::updateSettings, this, [&seenAtSignal] {
        QSettings store(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        seenAtSignal << store.value(SCSettings::HOTKEYS_RECORDING).toString()
                     << store.value(SCSettings::HOTKEYS_SCREENSHOT).toString()
                     << store.value(SCSettings::RECORDING_FORMAT).toString()
                     << store.value(SCSettings::RECORDING_SAVE_LOCATION).toString()
                     << store.value(SCSettings::SCREENSHOT_FORMAT).toString()
                     << store.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString()
                     << store.value(SCSettings::MOUSE_SHOW_CURSOR).toString()
                     << store.value(SCSettings::MOUSE_SHOW_HIGHLIGHT).toString();
    });
    QSignalSpy spy(window.get(), &SCSettingsWindow::updateSettings);
    window->findChild<QComboBox *>("recordingComboBox")->setCurrentText("F2");
    window->findChild<QComboBox *>("screenshotComboBox")->setCurrentText("F3");
    window->findChild<QComboBox *>("recordingFormatComboBox")->setCurrentIndex(3);
    window->findChild<QComboBox *>("screenshotFormatComboBox")->setCurrentIndex(1);
    window->findChild<QCheckBox *>("highlightCursorCheckBox")->setChecked(true);
    const QString recordingFolder
            = window->findChild<QLineEdit *>("recordingFileLocationLE")->text();
    const QString screenshotFolder
            = window->findChild<QLineEdit *>("screenshotFileLocationLE")->text();

    window->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Save)->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(seenAtSignal,
             QStringList({"F2", "F3", "GIF", recordingFolder, "JPG", screenshotFolder, "true",
                          "true"}));
    QVERIFY(!window->isVisible());
}

void TestPreferences::cancelKeepsOnlyFolderChoices()
{
    auto window = openPreferences();
    QSignalSpy spy(window.get(), &SCSettingsWindow::updateSettings);
    window->findChild<QComboBox *>("recordingFormatComboBox")->setCurrentIndex(2);
    window->findChild<QComboBox *>("recordingComboBox")->setCurrentText("F1");
    // The folder dialog stores its answer at once; answer it as a user would.
    QTemporaryDir folder;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&folder] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<QFileDialog *>(w); dialog && dialog->isVisible()) {
                if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit"))
                    name->setText(folder.path());
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            } else if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                qWarning() << "Unexpected message:" << box->text();
                box->reject();
            }
        }
    });
    answer.start(100);
    window->findChild<QPushButton *>("changeRecordingFileLocationBtn")->click();
    window->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Cancel)->click();

    QCOMPARE(spy.count(), 0);
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QStringLiteral("MP4"));
    QCOMPARE(settings.value(SCSettings::HOTKEYS_RECORDING).toString(), QStringLiteral("F9"));
    QCOMPARE(settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString(), folder.path());
}

void TestPreferences::mouseBoxesFollowEachOther()
{
    auto window = openPreferences();
    auto *cursor = window->findChild<QCheckBox *>("showCursorCheckBox");
    auto *effect = window->findChild<QCheckBox *>("highlightCursorCheckBox");
    cursor->setChecked(true);
    effect->setChecked(true);
    cursor->setChecked(false);
    QVERIFY(!effect->isChecked());
    effect->setChecked(true);
    QVERIFY(cursor->isChecked());
}

void TestPreferences::menuChecksStoredLanguageAndSwitchesAtOnce()
{
    QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
            .setValue(SCSettings::GENERAL_LANGUAGE, QStringLiteral("fr_FR"));
    auto window = std::make_unique<SCMainWindow>();
    window->setTranslator(m_translator);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // No global menu on this desktop: no bar may take room in the fixed-size window.
    QVERIFY(!window->findChild<QMenuBar *>());

    auto *menuBtn = window->findChild<QPushButton *>("menuBtn");
    QVERIFY(menuBtn->isVisible());
    QTest::mouseClick(menuBtn, Qt::LeftButton);
    QMenu *menu = nullptr;
    QTRY_VERIFY((menu = window->findChild<QMenu *>("mainMenu")) && menu->isVisible());
    auto *languages = menu->findChild<QMenu *>("languageMenu");
    QVERIFY(languages);
    QStringList checked;
    QAction *german = nullptr;
    for (QAction *action : languages->actions()) {
        if (action->isChecked())
            checked << action->text();
        if (action->text() == QStringLiteral("Deutsch"))
            german = action;
    }
    QCOMPARE(checked, QStringList {QStringLiteral("Français")});
    QCOMPARE(languages->actions().size(), 9);

    QVERIFY(german);
    german->trigger();
    menu->hide();
    QCOMPARE(window->findChild<QPushButton *>("recordingTab")->text(), QStringLiteral("Aufnahme"));
    QCOMPARE(window->findChild<QLabel *>("recordingLabel")->text(),
             QStringLiteral("Aufnahme starten"));
    QCOMPARE(window->findChild<QPushButton *>("fileOrderBtn")->toolTip(),
             m_translator->translate("", "Newest first"));
    QVERIFY(window->findChild<QPushButton *>("fileOrderBtn")->toolTip()
            != QStringLiteral("Newest first"));
    QCOMPARE(QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                     .value(SCSettings::GENERAL_LANGUAGE)
                     .toString(),
             QStringLiteral("de_DE"));
    // The menu goes away once hidden.
    QTRY_VERIFY(!window->findChild<QMenu *>("mainMenu"));

    QVERIFY(m_translator->load(QStringLiteral("en_US")));
}

void TestPreferences::aboutLinkOpensOnce()
{
    SCAboutWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *link = window.findChild<QLabel *>("homeURLLabel");
    QVERIFY(link->text().contains(SCAboutWindow::homeUrl()));
    QCOMPARE(window.findChild<QLabel *>("label_3")->text(), QStringLiteral(VISTREL_VERSION));

    // A real click on the link text, as the user makes it.
    const QPoint at(link->fontMetrics().horizontalAdvance(QStringLiteral("https")),
                    link->height() / 2);
    QTest::mouseMove(link, at);
    QTest::mousePress(link, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(link, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_COMPARE(m_urls.urls.size(), 1);
    QTest::qWait(200);
    QCOMPARE(m_urls.urls, QList<QUrl> {QUrl(SCAboutWindow::homeUrl())});
}

void TestPreferences::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

int main(int argc, char *argv[])
{
    // A private settings store: the tests write the real one's keys.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    QApplication app(argc, argv);
    TestPreferences test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-preferences.moc"
