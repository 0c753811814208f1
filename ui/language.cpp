#include "language.h"

#include "file_access.h"
#include "tls_settings.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace lorvane {

namespace {

// A few lines at most; anything longer is not ours.
constexpr qsizetype SETTINGS_MAX_SIZE = 4096;
const QString LANGUAGE_KEY = QStringLiteral("language=");

language current = language::chinese;

QTranslator& window_catalogue()
{
    static QTranslator t;
    return t;
}

QTranslator& qt_catalogue()
{
    static QTranslator t;
    return t;
}

// Where Qt's own catalogues are: the system's on Linux, translations/ beside the program
// on Windows (the zip and the installer ship them there).
QString qt_catalogue_folder()
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

std::optional<language> remembered_language()
{
    const file_contents contents = read_regular_file(settings_file(), SETTINGS_MAX_SIZE);
    const auto* bytes = std::get_if<QByteArray>(&contents);
    if (!bytes)
        return std::nullopt;
    for (const QString& line : QString::fromUtf8(*bytes).split(u'\n')) {
        if (line.startsWith(LANGUAGE_KEY))
            return language_of_code(line.mid(LANGUAGE_KEY.size()).trimmed());
    }
    return std::nullopt;
}

// In both languages: whoever mistyped the choice may read only one of them.
QString bad_choice(const QString& where, const QString& value)
{
    const char* source =
        QT_TRANSLATE_NOOP("language", "%1 的值 \"%2\" 无效：必须是 en（英文）或 zh（中文）。");
    QTranslator english;
    QString text = QString::fromUtf8(source).arg(where, value);
    if (english.load(QStringLiteral(":/i18n/lorvane_en.qm")))
        text += u'\n' + english.translate("language", source).arg(where, value);
    return text;
}

}  // namespace

QString language_code(language l)
{
    return l == language::english ? QStringLiteral("en") : QStringLiteral("zh");
}

std::optional<language> language_of_code(const QString& code)
{
    if (code == QStringLiteral("en"))
        return language::english;
    if (code == QStringLiteral("zh"))
        return language::chinese;
    return std::nullopt;
}

start_language language_at_start(QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString value;
        qsizetype taken = 0;
        if (arguments[i] == QStringLiteral("--language")) {
            taken = 2;
            value = i + 1 < arguments.size() ? arguments[i + 1] : QString();
        } else if (arguments[i].startsWith(QStringLiteral("--language="))) {
            taken = 1;
            value = arguments[i].mid(11);
        } else {
            continue;
        }
        arguments.remove(i, std::min(taken, arguments.size() - i));
        if (const auto l = language_of_code(value))
            return {*l, {}};
        return {language::chinese, bad_choice(QStringLiteral("--language"), value)};
    }
    if (qEnvironmentVariableIsSet("LORVANE_LANGUAGE")) {
        const QString value = qEnvironmentVariable("LORVANE_LANGUAGE");
        if (const auto l = language_of_code(value))
            return {*l, {}};
        return {language::chinese, bad_choice(QStringLiteral("LORVANE_LANGUAGE"), value)};
    }
    return {remembered_language().value_or(language::chinese), {}};
}

void set_language(language l)
{
    QCoreApplication::removeTranslator(&window_catalogue());
    QCoreApplication::removeTranslator(&qt_catalogue());
    current = l;
    if (l == language::english) {
        if (window_catalogue().load(QStringLiteral(":/i18n/lorvane_en.qm")))
            QCoreApplication::installTranslator(&window_catalogue());
    } else if (qt_catalogue().load(QStringLiteral("qtbase_zh_CN"), qt_catalogue_folder())) {
        QCoreApplication::installTranslator(&qt_catalogue());
    }
}

language current_language()
{
    return current;
}

QString settings_file()
{
    return configuration_folder() + QStringLiteral("/window_settings");
}

std::optional<file_failure> remember_language(language l)
{
    QDir().mkpath(configuration_folder());  // a failure shows in the write
    return write_regular_file(settings_file(), (LANGUAGE_KEY + language_code(l) + u'\n').toUtf8());
}

}  // namespace lorvane
