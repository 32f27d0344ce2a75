// The preferences window, the main window's menu and language switch, the about and update
// windows and the permission review, on the test desktop with a private home; and every
// window in every language, with no text cut off.

#include "desktop-input.h"
#include "lean-a-files.h"
#include "sc-about-window.h"
#include "sc-dialogs.h"
#include "sc-global-hotkey.h"
#include "sc-hotkey-edit.h"
#include "sc-main-window.h"
#include "sc-path-field.h"
#include "sc-permission-checks.h"
#include "sc-review-app-permissions-window.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "sc-types.h"
#include "sc-upgrade-window.h"
#include "sc-version.h"
#include "test-home.h"
#include "url-catcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyleOption>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QWindow>
#include <QtTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace {

TestHome *g_home = nullptr;

// Presses a key combination in a hotkey field, as the keyboard would deliver it.
void press(QWidget *field, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    field->setFocus();
    QTest::keyClick(field, key, modifiers);
}

// A second X client, which may hold key combinations as another program would.
class OtherXClient
{
public:
    OtherXClient()
        : m_connection(xcb_connect(nullptr, nullptr))
    { }
    ~OtherXClient() { xcb_disconnect(m_connection); }
    bool grab(uint32_t keysym, uint16_t modifiers)
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_generic_error_t *error
                = xcb_request_check(m_connection,
                                    xcb_grab_key_checked(m_connection, false, root, modifiers, code,
                                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return code && !error;
    }

private:
    xcb_connection_t *m_connection;
};

const QByteArray DEAD_SERVER = "unix:/nonexistent/vistrel-test/pulse/native";

QString describe(const QWidget *widget, const QString &text, int needed, int available)
{
    return QStringLiteral("%1 (%2) \"%3\": needs %4 px, has %5")
            .arg(widget->objectName(), QString::fromLatin1(widget->metaObject()->className()), text)
            .arg(needed)
            .arg(available);
}

int textWidth(const QFontMetrics &metrics, const QString &text)
{
    int width = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        width = qMax(width, metrics.horizontalAdvance(line));
    return width;
}

// The part of `rect` (in the widget's coordinates) that its parents cut away, in pixels.
int cutByParents(const QWidget *widget, const QRect &rect)
{
    QRect visible = rect;
    for (const QWidget *w = widget; w && !w->isWindow(); w = w->parentWidget())
        visible = visible.translated(w->pos()) & w->parentWidget()->rect();
    return rect.width() - visible.width() + rect.height() - visible.height();
}

void checkLabel(const QLabel *label, QStringList *problems)
{
    const QString text = label->text();
    if (text.isEmpty() || !label->pixmap().isNull())
        return;
    QRect area = label->contentsRect();
    const int margin = label->margin();
    area.adjust(margin, margin, -margin, -margin);
    const bool rich = label->textFormat() == Qt::RichText
            || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    QSize needed;
    if (rich) {
        QTextDocument document;
        document.setDocumentMargin(0);
        document.setDefaultFont(label->font());
        document.setHtml(text);
        if (label->wordWrap())
            document.setTextWidth(area.width());
        needed = QSize(qCeil(label->wordWrap() ? document.size().width() : document.idealWidth()),
                       qCeil(document.size().height()));
    } else if (label->wordWrap()) {
        needed = label->fontMetrics()
                         .boundingRect(area, Qt::TextWordWrap | label->alignment(), text)
                         .size();
    } else {
        needed = QSize(textWidth(label->fontMetrics(), text),
                       label->fontMetrics().height() * int(text.count('\n') + 1));
    }
    if (needed.width() > area.width())
        *problems << describe(label, text, needed.width(), area.width());
    else if (needed.height() > area.height())
        *problems << describe(label, text + " (height)", needed.height(), area.height());
    else if (const int cut = cutByParents(label, label->rect()); cut > 0)
        *problems << describe(label, text + " (cut by its parent)", cut, 0);
}

void checkButton(const QAbstractButton *button, QStringList *problems)
{
    QString text = button->text();
    text.remove(QLatin1Char('&'));
    if (text.isEmpty())
        return;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement element = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox *>(button))
        element = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton *>(button))
        element = QStyle::SE_RadioButtonContents;
    const QRect area = button->style()->subElementRect(element, &option, button);
    int needed = textWidth(button->fontMetrics(), text);
    if (!button->icon().isNull())
        needed += button->iconSize().width() + 4;
    if (needed > area.width())
        *problems << describe(button, text, needed, area.width());
    else if (const int cut = cutByParents(button, button->rect()); cut > 0)
        *problems << describe(button, text + " (cut by its parent)", cut, 0);
}

// Any entry may be the one on display, so each must fit the box's text field.
void checkCombo(const QComboBox *combo, QStringList *problems)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    for (int i = 0; i < combo->count(); ++i) {
        const int needed = combo->fontMetrics().horizontalAdvance(combo->itemText(i)) + 2;
        if (needed > field.width())
            *problems << describe(combo, combo->itemText(i), needed, field.width());
    }
}

void checkLineEdit(const QLineEdit *edit, QStringList *problems)
{
    // A path field shortens what does not fit, and its tool tip has the whole path.
    if (const auto *path = qobject_cast<const SCPathField *>(edit)) {
        if (path->toolTip() != path->text())
            *problems << describe(edit, path->text() + " (no tool tip)", 0, 0);
        return;
    }
    // What the user types may scroll; what the program shows may not.
    const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    if (text.isEmpty() || (!edit->isReadOnly() && !edit->text().isEmpty()))
        return;
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame()
            ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
            : 0;
    const QMargins margins = edit->textMargins();
    const QRect area = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                               .marginsRemoved(margins);
    // QLineEdit keeps a small inner margin on each side of its text.
    const int needed = edit->fontMetrics().horizontalAdvance(text) + 4;
    if (needed > area.width())
        *problems << describe(edit, text, needed, area.width());
}

void checkTextBox(const QAbstractScrollArea *box, QStringList *problems)
{
    if (box->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        return;
    if (box->verticalScrollBar()->maximum() > 0) {
        const auto *plain = qobject_cast<const QPlainTextEdit *>(box);
        const QString text = plain ? plain->toPlainText()
                                   : qobject_cast<const QTextEdit *>(box)->toPlainText();
        *problems << describe(box, text + " (height)", box->verticalScrollBar()->maximum(), 0);
    }
}

// Every cut-off text among the window's visible widgets.
QStringList clippedTexts(const QWidget *window)
{
    QStringList problems;
    for (const QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisible() || widget->window() != window)
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            checkLabel(label, &problems);
        else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            checkButton(button, &problems);
        else if (const auto *combo = qobject_cast<const QComboBox *>(widget))
            checkCombo(combo, &problems);
        else if (const auto *edit = qobject_cast<const QLineEdit *>(widget))
            checkLineEdit(edit, &problems);
        else if (qobject_cast<const QPlainTextEdit *>(widget)
                 || qobject_cast<const QTextEdit *>(widget))
            checkTextBox(static_cast<const QAbstractScrollArea *>(widget), &problems);
    }
    return problems;
}

// Lays the window out and adds its cut-off texts, if any, under `where`.
void collect(const QWidget *window, const QString &where, QStringList *problems)
{
    QApplication::processEvents();
    if (const QStringList found = clippedTexts(window); !found.isEmpty())
        *problems << where + QStringLiteral(":\n  ") + found.join(QStringLiteral("\n  "));
}

} // namespace

// Answers the folder dialogs and message boxes that open while it runs, as a user would: a
// folder dialog with `folder`, a message box with its default button. Keeps what they looked
// like and said.
class DialogAnswerer : public QObject
{
public:
    explicit DialogAnswerer(const QString &folder)
        : m_folder(folder)
    {
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::answer);
        m_timer.start(100);
    }
    QStringList messages;
    // The lightness of each dialog's background, 0 (black) to 255 (white).
    QList<int> backgrounds;
    bool widgetBasedFolderDialog = false;

private:
    void answer()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto *dialog = qobject_cast<QFileDialog *>(w)) {
                backgrounds << dialog->palette().color(QPalette::Window).lightness();
                auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
                widgetBasedFolderDialog = name != nullptr;
                if (name)
                    name->setText(m_folder);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
                backgrounds << box->grab().toImage().pixelColor(2, 2).lightness();
                messages << box->text();
                box->accept();
            }
        }
    }
    QString m_folder;
    QTimer m_timer;
};

// Answers every request with the status and body it holds at that moment.
class ManifestServer : public QObject
{
    Q_OBJECT

public:
    QByteArray body;
    QByteArray status = "200 OK";

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n")
                        || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write("HTTP/1.1 " + status
                                  + "\r\nContent-Type: application/json\r\n"
                                    "Connection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n");
                    socket->write(body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/update.json").arg(m_server.serverPort()));
    }

private:
    QTcpServer m_server;
};

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void hotkeyFieldsTakeCombinationsAndRefuseWhatCannotWork();
    void closingWithoutSaveKeepsOnlyFolderChoices();
    void savedCombinationIsGrabbedByTheMainWindow();
    void saveWritesEverythingThenSignalsOnce();
    void rateAndQualityFollowTheFormatAndRoundTrip();
    void encoderIsOfferedForH264FormatsAndRoundTrips();
    void unwritableFolderIsRefusedWhenChosen();
    void mainWindowMenuLanguageAndCornerGrip();
    void aboutLinkOpensOnce();
    // The permission review with a sound server that is away (the real program's is in
    // test-golden-path).
    void listsWhatIsMissingAndRechecks();
    // Every window in every language, laid out at its smallest size: no label, button, check
    // box, field or combo entry may be cut off.
    void everyWindowFits_data();
    void everyWindowFits();
    // The update window against a local server that plays the maker's manifest endpoint; last,
    // so that no main window's own check at start finds a release there.
    void versionsCompareAsNumbers();
    void releaseOrUpToDateShowsItsDetails();
    void failedChecksSayWhyAndCanBeRetried_data();
    void failedChecksSayWhyAndCanBeRetried();
    void refusedConnectionIsNoConnection();

private:
    std::unique_ptr<SCSettingsWindow> openPreferences();
    // With `switchTo`, the window starts in English and is switched by its language menu.
    QStringList mainWindowProblems(const QString &switchTo = QString());
    QStringList preferencesProblems();
    QStringList aboutAndUpdateProblems();
    int pageAfterFetch(const QByteArray &body, std::unique_ptr<SCUpgradeWindow> *keep = nullptr);
    ManifestServer m_server;
    UrlCatcher m_urls;
    std::shared_ptr<SCTranslator> m_translator;
};

void TestPreferences::initTestCase()
{
    m_translator = std::make_shared<SCTranslator>();
    QVERIFY(m_translator->load(QStringLiteral("en_US")));
    QCoreApplication::installTranslator(m_translator.get());
    // Nothing here may reach the maker's server, not even a main window's check at start.
    QVERIFY(m_server.start());
    SCUpgradeWindow::setManifestUrl(m_server.url());
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
    qunsetenv("PULSE_SERVER");
    qunsetenv("WAYLAND_DISPLAY");
    m_server.status = "200 OK";
}

std::unique_ptr<SCSettingsWindow> TestPreferences::openPreferences()
{
    auto window = std::make_unique<SCSettingsWindow>(nullptr);
    window->show();
    return window;
}

// Combinations with modifiers are taken; what cannot work is refused at once, with the reason
// on the page, and the field keeps its last good value.
void TestPreferences::hotkeyFieldsTakeCombinationsAndRefuseWhatCannotWork()
{
    auto window = openPreferences();
    window->findChild<QPushButton *>("hotkeysSettingsTab")->click();
    auto *recording = window->findChild<SCHotkeyEdit *>("recordingHotkeyEdit");
    auto *screenshot = window->findChild<SCHotkeyEdit *>("screenshotHotkeyEdit");
    auto *problem = window->findChild<QLabel *>("hotkeyProblemLabel");
    QCOMPARE(recording->hotkeyText(), QStringLiteral("F9"));
    QCOMPARE(screenshot->hotkeyText(), QStringLiteral("F10"));

    press(recording, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(recording->hotkeyText(), QStringLiteral("Ctrl+Shift+R"));
    QVERIFY(!problem->isVisible());

    press(recording, Qt::Key_F10);
    QCOMPARE(recording->hotkeyText(), QStringLiteral("Ctrl+Shift+R"));
    QVERIFY(problem->isVisible());
    QVERIFY2(problem->text().contains("F10") && problem->text().contains("Capture Screenshot"),
             qPrintable(problem->text()));

    press(recording, Qt::Key_A);
    QCOMPARE(recording->hotkeyText(), QStringLiteral("Ctrl+Shift+R"));
    QVERIFY2(problem->text().contains("Ctrl, Alt or Super"), qPrintable(problem->text()));

    // Another program holds Ctrl+Shift+F8: the X server would refuse it later, so it is refused
    // now.
    OtherXClient other;
    QVERIFY(other.grab(0xffc5 /* F8 */, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));
    press(recording, Qt::Key_F8, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(recording->hotkeyText(), QStringLiteral("Ctrl+Shift+R"));
    QVERIFY2(problem->text().contains("already taken by another application"),
             qPrintable(problem->text()));
    // Ctrl+Alt+F1 to F12 switch consoles: the server never lets a program see them.
    press(recording, Qt::Key_F6, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(recording->hotkeyText(), QStringLiteral("Ctrl+Shift+R"));
    QVERIFY2(problem->text().contains("X server keeps"), qPrintable(problem->text()));
    press(recording, Qt::Key_F8, Qt::ControlModifier | Qt::MetaModifier);
    QCOMPARE(recording->hotkeyText(), QStringLiteral("Meta+Ctrl+F8"));
    QVERIFY(!problem->isVisible());

    // Backspace means no hotkey, stored as the word "None".
    press(screenshot, Qt::Key_Backspace);
    QCOMPARE(screenshot->hotkeyText(), QStringLiteral("None"));
    window->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Save)->click();
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    QCOMPARE(settings.value(SCSettings::HOTKEYS_RECORDING).toString(),
             QStringLiteral("Meta+Ctrl+F8"));
    QCOMPARE(settings.value(SCSettings::HOTKEYS_SCREENSHOT).toString(), QStringLiteral("None"));
}

// Escape, even from a hotkey field where every other key is recorded, and Cancel close without
// saving; only the folder dialog stores its answer at once.
void TestPreferences::closingWithoutSaveKeepsOnlyFolderChoices()
{
    for (const bool escape : {true, false}) {
        auto window = openPreferences();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QSignalSpy spy(window.get(), &SCSettingsWindow::updateSettings);
        window->findChild<QComboBox *>("recordingFormatComboBox")->setCurrentIndex(2);
        QTemporaryDir folder;
        DialogAnswerer answerer(folder.path());
        window->findChild<QPushButton *>("changeRecordingFileLocationBtn")->click();
        QVERIFY(answerer.messages.isEmpty());
        window->findChild<QPushButton *>("hotkeysSettingsTab")->click();
        auto *recording = window->findChild<SCHotkeyEdit *>("recordingHotkeyEdit");
        press(recording, Qt::Key_F1);
        if (escape)
            press(recording, Qt::Key_Escape);
        else
            window->findChild<QDialogButtonBox *>("buttonBox")
                    ->button(QDialogButtonBox::Cancel)
                    ->click();
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(spy.count(), 0);
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        QCOMPARE(settings.value(SCSettings::RECORDING_FORMAT).toString(), QStringLiteral("MP4"));
        QCOMPARE(settings.value(SCSettings::HOTKEYS_RECORDING).toString(), QStringLiteral("F9"));
        QCOMPARE(settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString(), folder.path());
    }
}

// The preferences opened from the main window, a combination with modifiers saved: the main
// window grabs it at once (NumLock is test-global-hotkey's).
void TestPreferences::savedCombinationIsGrabbedByTheMainWindow()
{
    SCMainWindow main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    main.findChild<QPushButton *>("settingsBtn")->click();
    SCSettingsWindow *preferences = nullptr;
    QTRY_VERIFY((preferences = qobject_cast<SCSettingsWindow *>(QApplication::activeWindow())));
    preferences->findChild<QPushButton *>("hotkeysSettingsTab")->click();
    press(preferences->findChild<SCHotkeyEdit *>("recordingHotkeyEdit"), Qt::Key_F6,
          Qt::ControlModifier | Qt::ShiftModifier);
    preferences->findChild<QDialogButtonBox *>("buttonBox")
            ->button(QDialogButtonBox::Save)
            ->click();

    SCGlobalHotkey *hotkey = nullptr;
    for (SCGlobalHotkey *candidate : main.findChildren<SCGlobalHotkey *>()) {
        if (candidate->shortcut() == QKeySequence("Ctrl+Shift+F6"))
            hotkey = candidate;
    }
    QVERIFY(hotkey);
    QVERIFY2(hotkey->isRegistered(), qPrintable(hotkey->errorString()));
    // Only the delivery is looked at here, not a recording.
    disconnect(hotkey, &SCGlobalHotkey::activated, &main, nullptr);
    QSignalSpy activated(hotkey, &SCGlobalHotkey::activated);
    QVERIFY(xdotool({"key", "ctrl+shift+F6"}));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, 5000);
    // The old F9 is given back.
    QVERIFY(SCGlobalHotkey::canRegister(QKeySequence("F9"), nullptr));
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
    press(window->findChild<SCHotkeyEdit *>("recordingHotkeyEdit"), Qt::Key_F2);
    press(window->findChild<SCHotkeyEdit *>("screenshotHotkeyEdit"), Qt::Key_F3);
    window->findChild<QComboBox *>("recordingFormatComboBox")->setCurrentIndex(3);
    window->findChild<QComboBox *>("screenshotFormatComboBox")->setCurrentIndex(1);
    // The pointer effect needs the pointer, and the pointer off takes the effect along.
    auto *cursor = window->findChild<QCheckBox *>("showCursorCheckBox");
    auto *effect = window->findChild<QCheckBox *>("highlightCursorCheckBox");
    cursor->setChecked(true);
    effect->setChecked(true);
    cursor->setChecked(false);
    QVERIFY(!effect->isChecked());
    effect->setChecked(true);
    QVERIFY(cursor->isChecked());
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

// Each video format keeps its own rate and quality until Save; a sound format has neither, and a
// stored value that is not one of the format's choices reads as the default.
void TestPreferences::rateAndQualityFollowTheFormatAndRoundTrip()
{
    QSettings store(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    store.setValue(SCSettings::recordingFpsKey(OutputFormat::AVI), 7);
    store.setValue(SCSettings::recordingQualityKey(OutputFormat::AVI), "Lossless");
    auto window = openPreferences();
    auto *format = window->findChild<QComboBox *>("recordingFormatComboBox");
    auto *fps = window->findChild<QComboBox *>("recordingFpsComboBox");
    auto *quality = window->findChild<QComboBox *>("recordingQualityComboBox");
    const auto shown = [&] {
        return QStringList {fps->currentText(), quality->currentText(),
                            QString::number(fps->count()), QString::number(quality->count())};
    };
    QCOMPARE(format->itemText(int(OutputFormat::WEBM)), QString("WebM"));
    QCOMPARE(shown(), QStringList({"30 fps", "Balanced", "5", "4"}));
    format->setCurrentIndex(int(OutputFormat::AVI));
    QCOMPARE(shown(), QStringList({"30 fps", "Balanced", "5", "3"}));
    format->setCurrentIndex(int(OutputFormat::GIF));
    QCOMPARE(shown(), QStringList({"15 fps", "Balanced", "8", "3"}));
    fps->setCurrentIndex(fps->findData(10));
    quality->setCurrentIndex(quality->findData(int(RecordingQuality::High)));
    format->setCurrentIndex(int(OutputFormat::MKV));
    fps->setCurrentIndex(fps->findData(60));
    quality->setCurrentIndex(quality->findData(int(RecordingQuality::Lossless)));
    format->setCurrentIndex(int(OutputFormat::GIF));
    QCOMPARE(shown(), QStringList({"10 fps", "High quality", "8", "3"}));
    format->setCurrentIndex(int(OutputFormat::FLAC));
    QVERIFY(!fps->isEnabled() && !quality->isEnabled());
    window->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Save)->click();

    QCOMPARE(store.value(SCSettings::recordingFpsKey(OutputFormat::GIF)).toInt(), 10);
    QCOMPARE(store.value(SCSettings::recordingQualityKey(OutputFormat::GIF)).toString(),
             QString("High"));
    QCOMPARE(SCSettings::recordingFps(store, OutputFormat::MKV), 60);
    QCOMPARE(SCSettings::recordingQuality(store, OutputFormat::MKV), RecordingQuality::Lossless);
    QCOMPARE(SCSettings::recordingFps(store, OutputFormat::MP4), 30);
    QCOMPARE(store.value(SCSettings::recordingQualityKey(OutputFormat::AVI)).toString(),
             QString("Balanced"));
    window = openPreferences();
    format = window->findChild<QComboBox *>("recordingFormatComboBox");
    fps = window->findChild<QComboBox *>("recordingFpsComboBox");
    quality = window->findChild<QComboBox *>("recordingQualityComboBox");
    QCOMPARE(format->currentIndex(), int(OutputFormat::FLAC));
    format->setCurrentIndex(int(OutputFormat::MKV));
    QCOMPARE(shown(), QStringList({"60 fps", "Lossless", "5", "4"}));
}

// The H.264 formats offer Automatic, Software and the cards that work; a card chosen before and
// missing now stays chosen (it falls back when recording); other formats show Software only.
void TestPreferences::encoderIsOfferedForH264FormatsAndRoundTrips()
{
    QSettings store(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    store.setValue(SCSettings::recordingEncoderKey(OutputFormat::FLV), "NVENC");
    store.setValue(SCSettings::recordingEncoderKey(OutputFormat::MKV), "nonsense");
    auto window = openPreferences();
    window->setHardwareEncoders({VideoEncoderChoice::VaApi});
    auto *format = window->findChild<QComboBox *>("recordingFormatComboBox");
    auto *encoder = window->findChild<QComboBox *>("recordingEncoderComboBox");
    QVERIFY(encoder);
    const auto items = [&] {
        QStringList texts;
        for (int i = 0; i < encoder->count(); ++i)
            texts << encoder->itemText(i);
        return texts;
    };
    format->setCurrentIndex(int(OutputFormat::MP4));
    QCOMPARE(items(), QStringList({"Automatic", "Software", "Hardware (VA-API)"}));
    QCOMPARE(encoder->currentText(), QString("Automatic"));
    QVERIFY(encoder->isEnabled());
    QVERIFY(!encoder->itemData(0, Qt::ToolTipRole).toString().isEmpty());
    encoder->setCurrentIndex(encoder->findData(int(VideoEncoderChoice::VaApi)));
    format->setCurrentIndex(int(OutputFormat::FLV));
    QCOMPARE(items(),
             QStringList({"Automatic", "Software", "Hardware (VA-API)", "Hardware (NVENC)"}));
    QCOMPARE(encoder->currentText(), QString("Hardware (NVENC)"));
    format->setCurrentIndex(int(OutputFormat::MKV));
    QCOMPARE(encoder->currentText(), QString("Automatic"));
    encoder->setCurrentIndex(encoder->findData(int(VideoEncoderChoice::Software)));
    format->setCurrentIndex(int(OutputFormat::WEBM));
    QCOMPARE(items(), QStringList({"Software"}));
    QVERIFY(!encoder->isEnabled());
    format->setCurrentIndex(int(OutputFormat::MP4));
    QCOMPARE(encoder->currentText(), QString("Hardware (VA-API)"));
    window->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Save)->click();

    QCOMPARE(store.value(SCSettings::recordingEncoderKey(OutputFormat::MP4)).toString(),
             QString("VAAPI"));
    QCOMPARE(SCSettings::recordingEncoder(store, OutputFormat::FLV), VideoEncoderChoice::Nvenc);
    QCOMPARE(SCSettings::recordingEncoder(store, OutputFormat::MKV), VideoEncoderChoice::Software);
    QVERIFY(!store.contains(SCSettings::recordingEncoderKey(OutputFormat::WEBM)));
    QCOMPARE(SCSettings::recordingEncoder(store, OutputFormat::WEBM), VideoEncoderChoice::Software);
    store.remove(SCSettings::recordingEncoderKey(OutputFormat::MP4));
    QCOMPARE(SCSettings::recordingEncoder(store, OutputFormat::MP4), VideoEncoderChoice::Automatic);
}

// A folder nobody can write to (not even root, who ignores permission bits) is refused when it
// is chosen, in the preferences and on the main window's pages, with the reason; nothing is
// stored. The dialogs are Qt's own, dark like the program.
void TestPreferences::unwritableFolderIsRefusedWhenChosen()
{
    const QString unwritable = QStringLiteral("/proc");
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    const QString recording = settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString();
    const QString screenshots = settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString();
    const QString expected
            = SCDialogs::tr("Vistrel cannot write to the save folder \"%1\".").arg(unwritable);
    {
        auto window = openPreferences();
        DialogAnswerer answerer(unwritable);
        window->findChild<QPushButton *>("changeRecordingFileLocationBtn")->click();
        window->findChild<QPushButton *>("changeScreenshotFileLocationBtn")->click();
        QCOMPARE(answerer.messages.size(), 2);
        QVERIFY2(answerer.messages[0].contains(expected), qPrintable(answerer.messages[0]));
        QCOMPARE(window->findChild<QLineEdit *>("recordingFileLocationLE")->text(), recording);
        QVERIFY(answerer.widgetBasedFolderDialog);
        for (int lightness : std::as_const(answerer.backgrounds))
            QVERIFY2(lightness < 80, qPrintable(QString::number(lightness)));
    }
    SCMainWindow main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    {
        DialogAnswerer answerer(unwritable);
        main.findChild<QPushButton *>("changeLocationBtn")->click();
        main.findChild<QPushButton *>("changeScreenshotFileLocationBtn")->click();
        QCOMPARE(answerer.messages.size(), 2);
        QVERIFY2(answerer.messages[1].contains(expected), qPrintable(answerer.messages[1]));
    }
    QCOMPARE(main.findChild<QLineEdit *>("saveLocationLineEdit")->text(), recording);
    QCOMPARE(main.findChild<QLineEdit *>("screenshotFileLocationLineEdit")->text(), screenshots);
    settings.sync();
    QCOMPARE(settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString(), recording);
    QCOMPARE(settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString(), screenshots);
    // A folder that can be written is taken as before.
    QTemporaryDir good;
    DialogAnswerer accepting(good.path());
    main.findChild<QPushButton *>("changeLocationBtn")->click();
    QVERIFY2(accepting.messages.isEmpty(), qPrintable(accepting.messages.join('|')));
    QCOMPARE(main.findChild<QLineEdit *>("saveLocationLineEdit")->text(), good.path());
}

void TestPreferences::mainWindowMenuLanguageAndCornerGrip()
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
    QCOMPARE(QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                     .value(SCSettings::GENERAL_LANGUAGE)
                     .toString(),
             QStringLiteral("de_DE"));
    // The menu goes away once hidden.
    QTRY_VERIFY(!window->findChild<QMenu *>("mainMenu"));
    QVERIFY(m_translator->load(QStringLiteral("en_US")));

    // A real drag with the pointer on the window's corner grip, as the window manager sees it:
    // the window grows and the Files list takes the extra height.
    QCOMPARE(window->windowTitle(), QStringLiteral("Vistrel"));
    QCOMPARE(window->windowHandle()->title(), QStringLiteral("Vistrel"));
    QVERIFY(window->maximumHeight() > window->minimumHeight());
    window->findChild<QPushButton *>("fileTab")->click();
    auto *list = window->findChild<QListView *>("fileListView");
    QTRY_VERIFY(list->isVisible());
    const QSize before = window->size();
    const int listBefore = list->height();

    auto *grip = window->findChild<QWidget *>("sizeGrip");
    QVERIFY(grip && grip->isVisible());
    QTRY_COMPARE(grip->mapTo(window.get(), QPoint(grip->width(), grip->height())),
                 QPoint(window->width(), window->height()));
    const QPoint from = grip->mapToGlobal(grip->rect().center());
    const QPoint to = from + QPoint(150, 200);
    QVERIFY(dragPointer(from, to));
    QTRY_VERIFY_WITH_TIMEOUT(window->height() >= before.height() + 150, 10000);
    QVERIFY(window->width() >= before.width() + 100);
    QTRY_VERIFY(list->height() >= listBefore + 150);
    // The grip follows the corner.
    QTRY_COMPARE(grip->mapTo(window.get(), QPoint(grip->width(), grip->height())),
                 QPoint(window->width(), window->height()));
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
    QTRY_COMPARE(m_urls.urls, QList<QUrl> {QUrl(SCAboutWindow::homeUrl())});
    QVERIFY(!QTest::qWaitFor([this] { return m_urls.urls.size() > 1; }, 200));
}

void TestPreferences::listsWhatIsMissingAndRechecks()
{
    {
        SCReviewAppPermissionsWindow everything;
        QVERIFY2(everything.allGranted(), "the test desktop offers every capability");
    }
    // Each sound server address is tried, and the first that answers counts.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QByteArray listening = "tcp:127.0.0.1:" + QByteArray::number(server.serverPort());
    for (const QByteArray &address : {listening, DEAD_SERVER + " " + listening}) {
        qputenv("PULSE_SERVER", address);
        QVERIFY2(SCPermissionChecks::soundServerReachable(), address.constData());
    }
    server.close();
    for (const QByteArray &address : {listening, QByteArray("{not-a-machine-id")}) {
        qputenv("PULSE_SERVER", address);
        QVERIFY2(!SCPermissionChecks::soundServerReachable(), address.constData());
    }

    qputenv("PULSE_SERVER", DEAD_SERVER);
    SCReviewAppPermissionsWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.allGranted());
    auto *microphone = window.findChild<QPushButton *>("requestMicrophoneAccessBtn");
    QVERIFY(microphone->isEnabled());
    QCOMPARE(microphone->text(), QStringLiteral("Request Access"));
    QVERIFY(window.findChild<QLabel *>("microphoneStateLabel")->isVisible());
    for (const char *granted : {"openScreenRecordingPreferencesBtn", "requestCameraAccessBtn",
                                "openAccessibilityPreferencesBtn"}) {
        auto *button = window.findChild<QPushButton *>(granted);
        QVERIFY2(!button->isEnabled(), granted);
        QCOMPARE(button->text(), QStringLiteral("Access granted"));
    }

    // Still missing: the button leads to where it can be fixed.
    microphone->click();
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls.first().fragment(), QStringLiteral("microphone"));
    QVERIFY(microphone->isEnabled());

    // Back again: the next press sees it.
    qunsetenv("PULSE_SERVER");
    microphone->click();
    QVERIFY(!microphone->isEnabled());
    QCOMPARE(microphone->text(), QStringLiteral("Access granted"));
    QVERIFY(!window.findChild<QLabel *>("microphoneStateLabel")->isVisible());
    QCOMPARE(m_urls.urls.size(), 1);

    // A Wayland session without the desktop's screen-cast portal: the row names what is missing.
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    SCReviewAppPermissionsWindow wayland;
    wayland.show();
    auto *screen = wayland.findChild<QPushButton *>("openScreenRecordingPreferencesBtn");
    QVERIFY(screen->isEnabled());
    QCOMPARE(screen->text(), QStringLiteral("Open Screen Recroding Preferences"));
    auto *why = wayland.findChild<QLabel *>("screenStateLabel");
    QVERIFY(why->isVisible());
    QVERIFY2(why->text().contains("xdg-desktop-portal"), qPrintable(why->text()));
}

void TestPreferences::everyWindowFits_data()
{
    QTest::addColumn<QString>("locale");
    for (const auto &[language, code] : LANGUAGE_STRINGS)
        QTest::newRow(qPrintable(code)) << code;
}

void TestPreferences::everyWindowFits()
{
    QFETCH(QString, locale);
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, SCSettings::NO_HOTKEY);
    settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, SCSettings::NO_HOTKEY);
    // A folder path as long as a real one, which the fields must show in full or elided.
    const QString deep = g_home->filePath(QStringLiteral("home/someone/Videos/Vistrel"));
    QDir().mkpath(deep);
    settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, deep);
    settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, deep);
    QVERIFY(m_translator->load(locale));
    QStringList problems;
    problems << mainWindowProblems() << preferencesProblems() << aboutAndUpdateProblems();
    QVERIFY(m_translator->load(QStringLiteral("en_US")));
    problems << mainWindowProblems(locale);
    // The whole list, not only what fits into one failure message.
    for (const QString &problem : std::as_const(problems))
        qInfo().noquote() << problem;
    QVERIFY2(
            problems.isEmpty(),
            qPrintable(
                    QStringLiteral("%1 windows or pages with cut-off texts").arg(problems.size())));
}

QStringList TestPreferences::mainWindowProblems(const QString &switchTo)
{
    SCMainWindow window;
    window.setTranslator(m_translator);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {QStringLiteral("main window not shown")};
    const QString where = switchTo.isEmpty()
            ? QStringLiteral("main window")
            : QStringLiteral("main window switched to ") + switchTo;
    if (!switchTo.isEmpty()) {
        QTest::mouseClick(window.findChild<QPushButton *>("menuBtn"), Qt::LeftButton);
        auto *languages = window.findChild<QMenu *>("languageMenu");
        if (!languages)
            return {where + QStringLiteral(": no language menu")};
        for (QAction *action : languages->actions()) {
            if (action->data().toString() == switchTo)
                action->trigger();
        }
        window.findChild<QMenu *>("mainMenu")->hide();
        if (window.findChild<QPushButton *>("recordingTab")->text()
            != m_translator->translate(nullptr, "Recording"))
            return {where + QStringLiteral(": the language did not change")};
    }
    window.resize(window.minimumSize());
    QApplication::processEvents();
    QStringList problems;
    for (const char *tab : {"recordingTab", "screenshotTab", "fileTab"}) {
        window.findChild<QPushButton *>(tab)->click();
        collect(&window, QStringLiteral("%1, %2").arg(where, QLatin1String(tab)), &problems);
    }
    // The record button also names the other states of a recording.
    window.findChild<QPushButton *>("recordingTab")->click();
    auto *recordLabel = window.findChild<QLabel *>("recordingLabel");
    for (const char *state : {"Stop Recording", "Pause Recording"}) {
        recordLabel->setText(SCMainWindow::tr(state));
        QApplication::processEvents();
        QStringList found;
        checkLabel(recordLabel, &found);
        if (!found.isEmpty())
            problems << where + QStringLiteral(", record button:\n  ") + found.first();
    }
    return problems;
}

QStringList TestPreferences::preferencesProblems()
{
    SCSettingsWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {QStringLiteral("preferences not shown")};
    QStringList problems;
    for (const char *tab : {"recordingSettingsTab", "screenshotSettingsTab", "hotkeysSettingsTab",
                            "mouseSettingsTab", "desktopSettingsTab"}) {
        window.findChild<QPushButton *>(tab)->click();
        collect(&window, QStringLiteral("preferences, %1").arg(tab), &problems);
    }
    return problems;
}

QStringList TestPreferences::aboutAndUpdateProblems()
{
    QStringList problems;
    SCAboutWindow about;
    about.show();
    if (!QTest::qWaitForWindowExposed(&about))
        return {QStringLiteral("about window not shown")};
    collect(&about, QStringLiteral("about window"), &problems);

    // The release page, and each other page of the same window.
    SCUpgradeWindow update(nullptr,
                           QJsonDocument::fromJson(R"({"win": {"version": "9.0",
        "size": "40MB", "date": "2026.11.02", "change": ["Faster start"]}})")
                                   .object());
    update.show();
    if (!QTest::qWaitForWindowExposed(&update))
        return problems << QStringLiteral("update window not shown");
    auto *pages = update.findChild<QStackedWidget *>("stackedWidget");
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        collect(&update, QStringLiteral("update window, page %1").arg(page), &problems);
    }
    // A check that fails, with its reason on the page.
    m_server.status = "500 Internal Server Error";
    SCUpgradeWindow failed(nullptr, QJsonObject());
    failed.show();
    auto *failedPages = failed.findChild<QStackedWidget *>("stackedWidget");
    if (!QTest::qWaitFor(
                [&] { return failedPages->currentIndex() == SCUpgradeWindow::CheckFailedPage; },
                10000))
        return problems << QStringLiteral("update check did not fail");
    collect(&failed, QStringLiteral("update window, failed check"), &problems);
    return problems;
}

void TestPreferences::versionsCompareAsNumbers()
{
    struct Case
    {
        const char *candidate;
        const char *current;
        bool newer;
    };
    const Case cases[]
            = {{"1.0.10", "1.0.9", true},   {"10.0", "9.0", true},      {"9.0", "10.0", false},
               {"1.0.0", "1.0.0", false},   {"1.0", "1.0.0", false},    {"1.1.0", "1.0.0", true},
               {"v1.2", "1.0.0", true},     {"latest", "1.0.0", false}, {"", "1.0.0", false},
               {"2.0-beta", "1.0.0", false}};
    for (const Case &c : cases)
        QVERIFY2(Vistrel::isNewerVersion(c.candidate, c.current) == c.newer,
                 qPrintable(QString("%1 after %2").arg(c.candidate, c.current)));
}

// Opens a window that fetches by itself and waits until the server has answered.
int TestPreferences::pageAfterFetch(const QByteArray &body, std::unique_ptr<SCUpgradeWindow> *keep)
{
    m_server.body = body;
    auto window = std::make_unique<SCUpgradeWindow>(nullptr, QJsonObject());
    window->show();
    auto *pages = window->findChild<QStackedWidget *>("stackedWidget");
    auto *manager = window->findChild<QNetworkAccessManager *>();
    if (!manager)
        return -1;
    QSignalSpy finished(manager, &QNetworkAccessManager::finished);
    if (!finished.wait(20000))
        return -2;
    const int page = pages->currentIndex();
    if (keep)
        *keep = std::move(window);
    return page;
}

void TestPreferences::releaseOrUpToDateShowsItsDetails()
{
    std::unique_ptr<SCUpgradeWindow> window;
    QCOMPARE(pageAfterFetch(R"({"win": {"version": ")" + QByteArray(VISTREL_VERSION) + R"("}})",
                            &window),
             int(SCUpgradeWindow::UpToDatePage));
    QCOMPARE(window->findChild<QLabel *>("currentVersionLabel")->text(),
             QStringLiteral(VISTREL_VERSION));

    const QByteArray manifest = R"({"win": {"version": "1.0.10", "size": "40MB",
        "date": "2026.11.02", "url": "https://www.ombrant.com/vistrel/download",
        "change": ["Faster start", "Fixed the region frame"]}})";
    QCOMPARE(pageAfterFetch(manifest, &window), 2);
    QCOMPARE(window->findChild<QLabel *>("newVersionLabel")->text(), QStringLiteral("1.0.10"));
    QCOMPARE(window->findChild<QLabel *>("sizeLabel")->text(), QStringLiteral("40MB"));
    QCOMPARE(window->findChild<QLabel *>("releaseDateLabel")->text(), QStringLiteral("2026.11.02"));
    QCOMPARE(window->findChild<QTextEdit *>("upgradeInfoTextEdit")->toPlainText(),
             QStringLiteral("Faster start\nFixed the region frame\n"));
    m_urls.urls.clear();
    window->findChild<QPushButton *>("upgradeBtn")->click();
    QCOMPARE(m_urls.urls, QList<QUrl> {QUrl("https://www.ombrant.com/vistrel/download")});
    QVERIFY(window->isVisible());

    // A download address that is no web page is never handed to the desktop.
    SCUpgradeWindow local(nullptr,
                          QJsonDocument::fromJson(R"({"win": {"version": "2.0",
        "url": "file:///etc/passwd", "change": []}})")
                                  .object());
    m_urls.urls.clear();
    local.findChild<QPushButton *>("upgradeBtn")->click();
    QVERIFY(m_urls.urls.isEmpty());
    // The manifest handed over by the main window goes straight to its page.
    QCOMPARE(local.findChild<QStackedWidget *>("stackedWidget")->currentIndex(), 2);
}

void TestPreferences::failedChecksSayWhyAndCanBeRetried_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");
    const QString unreadable
            = SCUpgradeWindow::tr("The update information from the server cannot be read.");
    QTest::newRow("server error")
            << QByteArray("500 Internal Server Error") << QByteArray("<html>oops</html>")
            << SCUpgradeWindow::tr("The update server answered with an error (HTTP %1).").arg(500);
    QTest::newRow("garbage") << QByteArray("200 OK") << QByteArray("{\"win\": {\"version\": ")
                             << unreadable;
    QTest::newRow("no release record")
            << QByteArray("200 OK") << QByteArray(R"({"mac": {"version": "9.9.9"}})") << unreadable;
    QTest::newRow("no version") << QByteArray("200 OK") << QByteArray(R"({"win": {"size": "1"}})")
                                << unreadable;
    QByteArray huge = R"({"win": {"version": "9.0", "change": [")";
    huge += QByteArray(SCUpgradeWindow::MAX_MANIFEST_BYTES * 4, 'x');
    huge += R"("]}})";
    QTest::newRow("huge") << QByteArray("200 OK") << huge << unreadable;
    QTest::newRow("deeply nested")
            << QByteArray("200 OK") << QByteArray(100000, '[') + QByteArray(100000, ']')
            << unreadable;
}

// A failure is never reported as "up to date": the window says the check failed and why,
// the log has it, and "Try Again" asks the server once more.
void TestPreferences::failedChecksSayWhyAndCanBeRetried()
{
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    m_server.status = status;
    std::unique_ptr<SCUpgradeWindow> window;
    const int before = g_home->log().count("Update check failed");
    QCOMPARE(pageAfterFetch(body, &window), int(SCUpgradeWindow::CheckFailedPage));
    QCOMPARE(window->findChild<QLabel *>("failureReasonLabel")->text(), reason);
    QVERIFY(window->findChild<QPushButton *>("retryBtn")->isVisible());
    QTRY_COMPARE(g_home->log().count("Update check failed"), before + 1);

    m_server.status = "200 OK";
    m_server.body = R"({"win": {"version": ")" + QByteArray(VISTREL_VERSION) + R"("}})";
    window->findChild<QPushButton *>("retryBtn")->click();
    auto *pages = window->findChild<QStackedWidget *>("stackedWidget");
    QCOMPARE(pages->currentIndex(), int(SCUpgradeWindow::CheckingPage));
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentIndex(), int(SCUpgradeWindow::UpToDatePage), 20000);
}

void TestPreferences::refusedConnectionIsNoConnection()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    SCUpgradeWindow::setManifestUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port)));
    SCUpgradeWindow window(nullptr, QJsonObject());
    auto *pages = window.findChild<QStackedWidget *>("stackedWidget");
    QTRY_COMPARE(pages->currentIndex(), int(SCUpgradeWindow::CheckFailedPage));
    QCOMPARE(window.findChild<QLabel *>("failureReasonLabel")->text(),
             SCUpgradeWindow::tr("There is no connection to the update server."));
    QVERIFY(g_home->log().contains(QStringLiteral("127.0.0.1:%1").arg(port)));
    SCUpgradeWindow::setManifestUrl(m_server.url());
}

int main(int argc, char *argv[])
{
    // A private home: the tests write the real settings' keys, and read the log.
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    if (!home.openLog())
        return 1;
    TestPreferences test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-preferences.moc"
