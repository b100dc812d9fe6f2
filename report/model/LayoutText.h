#pragma once
// The text form of stored layouts: a tree of named objects, each with its class, dotted
// property names and typed values.
//
//   object Report1: TReport
//     Page.Values = (
//       100
//       2970)
//     Options = [FirstPageHeader, LastPageFooter]
//     object RpBand1: TRpBand
//       Caption = 'Text'#13#10'next line'
//       Picture.Data = {0754426974...}
//     end
//   end
//
// Values: integers (also $hex), decimal numbers, identifiers (True, taCenter, Form1.Table1),
// quoted texts ('' inside for a quote, #n for character n, joined by + across lines), sets
// [a, b], value lists ( v v ) and binary data { hex }.
//
// Knows: the syntax of layout text only. Must not know: report classes, what a property means,
// files. Untrusted: the text, any bytes: its size, nesting, objects and values are bounded, and
// anything that does not parse raises ELayoutError naming the source and the line.
#include "platform/Exception.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

class ELayoutError : public Exception {
public:
    ELayoutError(const QString& source, int line, const QString& problem);
    int line() const { return line_; }
    const QString& problem() const { return problem_; }

private:
    int line_;
    QString problem_;
};

struct LayoutValue {
    enum class Kind { Integer, Float, Identifier, String, Set, List, Binary };
    Kind kind = Kind::Integer;
    qint64 integer = 0;
    long double number = 0;
    QString text;            // identifier or string
    QStringList set;         // set members
    std::vector<LayoutValue> list;
    QByteArray binary;
    int line = 0;

    bool isNumber() const { return kind == Kind::Integer || kind == Kind::Float; }
    long double asNumber() const { return kind == Kind::Integer ? static_cast<long double>(integer) : number; }

    static LayoutValue makeInteger(qint64 v);
    static LayoutValue makeFloat(long double v);
    static LayoutValue makeIdentifier(const QString& s);
    static LayoutValue makeString(const QString& s);
    static LayoutValue makeSet(const QStringList& members);
    static LayoutValue makeList(std::vector<LayoutValue> items);
    static LayoutValue makeBinary(const QByteArray& bytes);
};

struct LayoutProperty {
    QString name;
    LayoutValue value;
    int line = 0;
};

struct LayoutObject {
    QString name;
    QString className;
    int line = 0;
    std::vector<LayoutProperty> properties;
    std::vector<LayoutObject> children;

    const LayoutProperty* find(const QString& propertyName) const;
};

namespace layouttext {

// Largest layout text accepted, and how deep objects may nest.
constexpr qsizetype kMaxTextSize = 4 * 1024 * 1024;
constexpr int kMaxDepth = 16;
// More objects than any report needs is damage, and would only cost time to build.
constexpr int kMaxObjects = 10000;
// Values (properties and list entries) in one layout: bounds the memory a layout can ask for.
constexpr int kMaxValues = 200000;

// Reads one root object. Raises ELayoutError naming the source, the line and the problem.
LayoutObject parse(const QByteArray& text, const QString& source);
// Writes the tree in the same form (parse(write(t)) gives t back).
QByteArray write(const LayoutObject& root);
// A number as written in layouts: up to 15 significant digits.
QString formatNumber(long double v);

} // namespace layouttext
