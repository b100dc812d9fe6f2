#pragma once
// The result sheet report's holder: the report of the current row of the main window's table.
#include <QObject>

class TForm3 : public QObject {
    Q_OBJECT
public:
    explicit TForm3(QObject* owner);
    // Previews the result sheet of the main window's current row; returns when the preview
    // window has closed.
    void Preview();
};
