#pragma once
// The period report's holder: the landscape report over the period query's rows.
#include <QObject>

class TForm7 : public QObject {
    Q_OBJECT
public:
    explicit TForm7(QObject* owner);
    // Previews the period report; returns when the preview window has closed.
    void Preview();
};
