#pragma once
// The engine's error type and its field types: the bottom of the engine, which every other
// engine unit and every caller may include without taking in the data sets.
//
// Knows: the program's error type. Must not know: files, statements, data sets.
// Untrusted: nothing; these are declarations.
#include "platform/Exception.h"

#include <QStringList>

// Every error the engine raises. The message is the engine's or the framework's text, e.g.
// "Table1: Cannot perform this operation on a closed dataset".
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// A post refused because another program changed the row after this edit of it began: nothing
// is written, and the data set keeps the edit and what was typed. record counts from 1; changed
// names each field the other program changed, with the text it holds now. The message is for
// the person at the keyboard, in the program's language.
class ERowChanged : public EDatabaseError {
public:
    struct Field {
        QString name;
        QString now;
    };
    ERowChanged(int record, QList<Field> changed)
        : EDatabaseError(text(record, changed)), record_(record), changed_(std::move(changed))
    {
    }
    int record() const { return record_; }
    const QList<Field>& changed() const { return changed_; }

private:
    static QString text(int record, const QList<Field>& changed)
    {
        QStringList fields;
        for (const Field& f : changed)
            fields << QStringLiteral("%1 «%2»").arg(f.name, f.now);
        return QStringLiteral("Запись %1 изменена на другом рабочем месте%2. Ваша правка не записана: отмените её "
                              "(Esc), чтобы увидеть новые значения, и введите снова.")
            .arg(record)
            .arg(fields.isEmpty() ? QString() : QStringLiteral(": ") + fields.join(QStringLiteral(", ")));
    }

    int record_;
    QList<Field> changed_;
};

enum class TFieldType { String, Date, Float, Integer, Boolean, Memo };
