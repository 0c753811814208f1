// The window's language: Chinese, the source texts, or English from the catalogue
// ui/translations/lorvane_en.ts (built into the program). Every text people read in ui/ goes
// through one of the translation contexts below, one per file, so that lupdate files each
// text under the file it lives in:
//
//     cmake --build --preset dev --target lorvane_ui_lupdate   # refresh the .ts from ui/
//
// then give each new entry (type="unfinished") its English and remove the mark; the build
// runs lrelease itself. tst_language refuses a catalogue with an unfinished or empty entry.
#pragma once

#include "file_access.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <optional>

namespace lorvane {

// clang-format off
struct capture_action_tr { Q_DECLARE_TR_FUNCTIONS(capture_action) };
struct health_dialog_tr { Q_DECLARE_TR_FUNCTIONS(health_dialog) };
struct health_texts_tr { Q_DECLARE_TR_FUNCTIONS(health_texts) };
struct language_tr { Q_DECLARE_TR_FUNCTIONS(language) };
struct main_form_tr { Q_DECLARE_TR_FUNCTIONS(main_form) };
struct message_box_tr { Q_DECLARE_TR_FUNCTIONS(message_box) };
struct port_texts_tr { Q_DECLARE_TR_FUNCTIONS(port_texts) };
struct scan_dialog_tr { Q_DECLARE_TR_FUNCTIONS(scan_dialog) };
struct server_trust_tr { Q_DECLARE_TR_FUNCTIONS(server_trust) };
struct site_report_texts_tr { Q_DECLARE_TR_FUNCTIONS(site_report_texts) };
struct site_texts_tr { Q_DECLARE_TR_FUNCTIONS(site_texts) };
struct site_window_tr { Q_DECLARE_TR_FUNCTIONS(site_window) };
struct window_texts_tr { Q_DECLARE_TR_FUNCTIONS(window_texts) };
// clang-format on

// `source`, a text a header marks with QT_TRANSLATE_NOOP(context, …), in the window's language.
inline QString translated(const char* context, const QString& source)
{
    return QCoreApplication::translate(context, source.toUtf8().constData());
}

// The properties of a QAction (or any object) whose text is translated again at each change of
// language: the context and the source text, as QByteArray.
inline constexpr char SOURCE_CONTEXT[] = "source_context";
inline constexpr char SOURCE_TEXT[] = "source_text";

enum class language { chinese, english };

// "zh" or "en", as --language, LORVANE_LANGUAGE and the settings file spell them.
QString language_code(language l);
std::optional<language> language_of_code(const QString& code);

// The language the window starts in: --language (taken out of `arguments`), else
// LORVANE_LANGUAGE, else the one last chosen in the window, else Chinese; the system's locale
// plays no part. A bad --language or LORVANE_LANGUAGE gives the message naming it and the
// accepted values instead.
struct start_language
{
    language chosen = language::chinese;
    QString problem;  // empty when the choice is sound
};
start_language language_at_start(QStringList& arguments);

// Installs the catalogues of `l`: the window's own English one, or Qt's Chinese one for its
// own dialogs and buttons (Qt's texts are English without it). Every open window gets a
// LanguageChange and redraws its texts.
void set_language(language l);
language current_language();

// The settings file of the configuration folder that remembers the choice from the menu.
QString settings_file();
// Remembers `l` for the next start; the file is replaced whole. Why not, when it cannot be.
std::optional<file_failure> remember_language(language l);

}  // namespace lorvane
