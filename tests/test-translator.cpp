#include "sc-translator.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QtTest>

namespace {

const QStringList LOCALES
        = {"en_US", "de_DE", "fr_FR", "es_ES", "pt_PT", "it_IT", "zh_CN", "zh_TW", "ja_JP"};

QString translated(const QString &text)
{
    return QCoreApplication::translate("AnyContext", text.toUtf8().constData());
}

// Adjacent C++ string literals from `pos` on, joined and unescaped; empty when there is none.
QString literalsAt(const QString &source, qsizetype pos)
{
    QString text;
    for (;;) {
        while (pos < source.size() && source[pos].isSpace())
            ++pos;
        if (pos >= source.size() || source[pos] != '"')
            return text;
        for (++pos; pos < source.size() && source[pos] != '"'; ++pos) {
            if (source[pos] == '\\' && pos + 1 < source.size()) {
                const QChar escaped = source[++pos];
                text += escaped == 'n' ? QChar('\n') : escaped == 't' ? QChar('\t') : escaped;
            } else {
                text += source[pos];
            }
        }
        ++pos;
    }
}

QStringList englishLines()
{
    QFile file(QStringLiteral(":/locales/en_US.ini"));
    return file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).chopped(2).split(QStringLiteral("\r\n"))
            : QStringList();
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every text of the program that reaches the translator: tr("...") in the sources and the
// translatable strings of the forms.
QSet<QString> visibleTexts()
{
    QSet<QString> texts;
    const QString root = QStringLiteral(VISTREL_SOURCE_DIR);
    static const QRegularExpression trCall(QStringLiteral("(?<![\\w])tr\\("));
    for (const QString &folder : {root + "/src", root + "/plugins"}) {
        QDirIterator it(folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString source = readText(it.next());
            auto match = trCall.globalMatch(source);
            while (match.hasNext()) {
                const QString text = literalsAt(source, match.next().capturedEnd());
                if (!text.isEmpty())
                    texts.insert(text);
            }
        }
    }
    static const QRegularExpression formString(QStringLiteral("<string>([^<]+)</string>"));
    QDirIterator forms(root + "/src", {"*.ui"}, QDir::Files, QDirIterator::Subdirectories);
    while (forms.hasNext()) {
        auto match = formString.globalMatch(readText(forms.next()));
        while (match.hasNext()) {
            QString text = match.next().captured(1);
            text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"");
            texts.insert(text.replace("&amp;", "&"));
        }
    }
    // The product name stays the same in every language.
    texts.remove(QStringLiteral("Vistrel"));
    return texts;
}

} // namespace

class TestTranslator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyFileHoldsTheKeys_data();
    void everyFileHoldsTheKeys();
    void lookupIgnoresContextFallsBackAndSwitches();
    void qtDialogsFollowTheLanguage();
};

void TestTranslator::everyFileHoldsTheKeys_data()
{
    QTest::addColumn<QString>("locale");
    for (const QString &locale : LOCALES)
        QTest::newRow(qPrintable(locale)) << locale;
}

void TestTranslator::everyFileHoldsTheKeys()
{
    QFETCH(QString, locale);
    SCTranslator translator;
    QVERIFY(translator.load(locale));

    QFile raw(QStringLiteral(":/locales/%1.ini").arg(locale));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    const QString text = QString::fromUtf8(bytes);
    QCOMPARE(text.toUtf8(), bytes); // valid UTF-8 survives a round trip
    QVERIFY(text.endsWith("\r\n"));
    const QStringList lines = text.chopped(2).split("\r\n");
    // Every file holds the English file's keys in its line order, so the nine files can be
    // read side by side.
    const QStringList english = englishLines();
    QCOMPARE(lines.size(), english.size());
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(!lines[i].contains('\n') && !lines[i].contains('\r'), qPrintable(lines[i]));
        QVERIFY2(lines[i].contains(" = \"") && lines[i].endsWith('"'), qPrintable(lines[i]));
        QCOMPARE(lines[i].section(" = \"", 0, 0), english[i].section(" = \"", 0, 0));
    }

    QSettings file(QStringLiteral(":/locales/%1.ini").arg(locale), QSettings::IniFormat);
    QCOMPARE(file.status(), QSettings::NoError);
    const QStringList keys = file.allKeys();
    QCOMPARE(keys.size(), lines.size());

    QCoreApplication::installTranslator(&translator);
    for (const QString &key : keys) {
        const QString value = file.value(key).toString();
        QVERIFY2(!value.trimmed().isEmpty(), qPrintable(locale + ": empty value for " + key));
        if (!key.contains('"'))
            QVERIFY2(!value.contains('"'), qPrintable(locale + ": quote left in " + key));
        // English shows the key itself; one key keeps a space before the address that follows.
        if (locale == "en_US")
            QCOMPARE(value, key == "To learn more about us, please visit:" ? key + ' ' : key);
        QCOMPARE(translated(key), value);
        QCOMPARE(value.count(QStringLiteral("%1")), key.count(QStringLiteral("%1")));
    }
    QCoreApplication::removeTranslator(&translator);

    // Every text the program shows has a translation; the scan itself must find the
    // program's texts, or this proves nothing.
    static const QSet<QString> texts = visibleTexts();
    QVERIFY(texts.contains(QStringLiteral("Start/Stop Recording")));
    QVERIFY(texts.contains(QStringLiteral("Enter custom filename (optional)")));
    QVERIFY(texts.size() > 100);
    QStringList missing;
    for (const QString &text : texts) {
        if (file.value(text).toString().trimmed().isEmpty())
            missing << text;
    }
    missing.sort();
    QVERIFY2(missing.isEmpty(),
             qPrintable(locale + ": no translation for:\n" + missing.join('\n')));
}

void TestTranslator::lookupIgnoresContextFallsBackAndSwitches()
{
    SCTranslator translator;
    QVERIFY(translator.load("de_DE"));
    QCOMPARE(translator.translate("SCMainWindow", "Save"), QString("Speichern"));
    QCOMPARE(translator.translate("SCSettingsWindow", "Save", "button", 3), QString("Speichern"));
    QCOMPARE(translator.translate(nullptr, "Start/Stop Recording"),
             QString("Aufnahme starten/beenden"));
    // One character off is another text, and comes back unchanged.
    QCOMPARE(translator.translate("x", "save"), QString("save"));
    QCOMPARE(translator.translate("x", "Not a key at all"), QString("Not a key at all"));
    QCOMPARE(translator.translate("x", "日本語"), QString("日本語"));

    // Switching replaces every entry.
    QSettings french(":/locales/fr_FR.ini", QSettings::IniFormat);
    const QStringList keys = french.allKeys();
    QHash<QString, QString> german;
    for (const QString &key : keys)
        german.insert(key, translator.translate("", key.toUtf8().constData()));
    QVERIFY(translator.load("fr_FR"));
    int differing = 0;
    for (const QString &key : keys) {
        const QString now = translator.translate("", key.toUtf8().constData());
        QCOMPARE(now, french.value(key).toString());
        if (now != german.value(key))
            ++differing;
    }
    QVERIFY(differing > keys.size() / 2);

    // A locale that is not there keeps the table loaded before.
    QVERIFY(!translator.load("xx_XX"));
    QVERIFY(!translator.load(""));
    QCOMPARE(translator.translate("", "Settings"), french.value("Settings").toString());
    QVERIFY(french.value("Settings").toString() != "Settings");
}

// Qt's own dialogs and button texts come in the same language as the program's, from the
// translations Qt installs; the program's own words still win where both have one.
void TestTranslator::qtDialogsFollowTheLanguage()
{
    SCTranslator translator;
    QVERIFY(translator.load("ja_JP"));
    QVERIFY2(translator.hasQtTranslations(), "qt6-translations-l10n is not installed");
    QCOMPARE(translator.translate("QFileDialog", "Look in:"), QString("アドレス:"));
    QCOMPARE(translator.translate("QPlatformTheme", "Cancel"),
             translator.translate("SCSettingsWindow", "Cancel"));
    QVERIFY(translator.load("de_DE"));
    QCOMPARE(translator.translate("QShortcut", "Ctrl"), QString("Strg"));
    QCOMPARE(translator.translate("QPlatformTheme", "Save"), QString("Speichern"));
    // Portuguese has Qt's Brazilian texts rather than none.
    QVERIFY(translator.load("pt_PT"));
    QVERIFY(translator.hasQtTranslations());
    QVERIFY(translator.translate("QFileDialog", "Look in:") != QString("Look in:"));
    // Back in English nothing of the last language is left.
    QVERIFY(translator.load("en_US"));
    QCOMPARE(translator.translate("QFileDialog", "Look in:"), QString("Look in:"));
    QCOMPARE(translator.translate("QShortcut", "Ctrl"), QString("Ctrl"));
}

QTEST_GUILESS_MAIN(TestTranslator)
#include "test-translator.moc"
