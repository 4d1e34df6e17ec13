#pragma once

// Readable GoogleTest output for Qt's text types (instead of a dump of code units).

#include <QByteArray>
#include <QString>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"';
    for (const char c : bytes) {
        switch (c) {
        case '\r':
            *out << "\\r";
            break;
        case '\n':
            *out << "\\n";
            break;
        default:
            *out << c;
        }
    }
    *out << '"';
}
