// Every window in every language, laid out on the test desktop at its smallest size: no
// label, button, check box, field or combo entry may be cut off.

#include "sc-about-window.h"
#include "sc-main-window.h"
#include "sc-path-field.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "sc-types.h"
#include "sc-upgrade-window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyleOption>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

namespace {

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

QString report(const QString &where, const QStringList &problems)
{
    return where + QStringLiteral(":\n  ") + problems.join(QStringLiteral("\n  "));
}

} // namespace

class TestLabelsFit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void everyWindowFits_data();
    void everyWindowFits();

private:
    // With `switchTo`, the window starts in English and is switched by its language menu.
    QStringList mainWindowProblems(const QString &switchTo = QString());
    QStringList preferencesProblems();
    QStringList aboutAndUpdateProblems();

    std::shared_ptr<SCTranslator> m_translator = std::make_shared<SCTranslator>();
    QTemporaryDir m_home;
};

void TestLabelsFit::initTestCase()
{
    // Nothing here may reach the maker's server: a port that nobody listens on.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    SCUpgradeWindow::setManifestUrl(
            QUrl(QStringLiteral("http://127.0.0.1:%1/update.json").arg(closed.serverPort())));
    closed.close();
    QCoreApplication::installTranslator(m_translator.get());
}

void TestLabelsFit::init()
{
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.clear();
    SCSettings::applyDefaults(settings);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, SCSettings::NO_HOTKEY);
    settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, SCSettings::NO_HOTKEY);
    // A folder path as long as a real one, which the fields must show in full or elided.
    const QString deep = m_home.filePath(QStringLiteral("home/someone/Videos/Vistrel"));
    QDir().mkpath(deep);
    settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, deep);
    settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, deep);
}

void TestLabelsFit::everyWindowFits_data()
{
    QTest::addColumn<QString>("locale");
    for (const auto &[language, code] : LANGUAGE_STRINGS)
        QTest::newRow(qPrintable(code)) << code;
}

void TestLabelsFit::everyWindowFits()
{
    QFETCH(QString, locale);
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

QStringList TestLabelsFit::mainWindowProblems(const QString &switchTo)
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
        QApplication::processEvents();
        const QStringList found = clippedTexts(&window);
        if (!found.isEmpty())
            problems << report(QStringLiteral("%1, %2").arg(where, QLatin1String(tab)), found);
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
            problems << report(where + QStringLiteral(", record button"), found);
    }
    return problems;
}

QStringList TestLabelsFit::preferencesProblems()
{
    SCSettingsWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {QStringLiteral("preferences not shown")};
    QStringList problems;
    for (const char *tab : {"recordingSettingsTab", "screenshotSettingsTab", "hotkeysSettingsTab",
                            "mouseSettingsTab", "desktopSettingsTab"}) {
        window.findChild<QPushButton *>(tab)->click();
        QApplication::processEvents();
        const QStringList found = clippedTexts(&window);
        if (!found.isEmpty())
            problems << report(QStringLiteral("preferences, %1").arg(tab), found);
    }
    return problems;
}

QStringList TestLabelsFit::aboutAndUpdateProblems()
{
    QStringList problems;
    SCAboutWindow about;
    about.show();
    if (!QTest::qWaitForWindowExposed(&about))
        return {QStringLiteral("about window not shown")};
    if (const QStringList found = clippedTexts(&about); !found.isEmpty())
        problems << report(QStringLiteral("about window"), found);

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
        QApplication::processEvents();
        if (const QStringList found = clippedTexts(&update); !found.isEmpty())
            problems << report(QStringLiteral("update window, page %1").arg(page), found);
    }
    // A check that fails, with its reason on the page.
    SCUpgradeWindow failed(nullptr, QJsonObject());
    failed.show();
    auto *failedPages = failed.findChild<QStackedWidget *>("stackedWidget");
    if (!QTest::qWaitFor(
                [&] { return failedPages->currentIndex() == SCUpgradeWindow::CheckFailedPage; },
                10000))
        return problems << QStringLiteral("update check did not fail");
    if (const QStringList found = clippedTexts(&failed); !found.isEmpty())
        problems << report(QStringLiteral("update window, failed check"), found);
    return problems;
}

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    QApplication app(argc, argv);
    TestLabelsFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-labels-fit.moc"
