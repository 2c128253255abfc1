#pragma once

#include <QTranslator>

class QLocale;

// Brevane's translation for a locale together with Qt's own (the texts of
// standard context menus and dialogs), installed while this object lives.
// A locale without a translation leaves the texts as they are written.
class Translations {
public:
    explicit Translations(const QLocale& locale);
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // Whether Brevane's own texts are translated for the locale.
    bool loaded() const { return !m_app.isEmpty(); }

private:
    // Destroyed in reverse, each one uninstalling itself.
    QTranslator m_qt;
    QTranslator m_app;
};
