#pragma once

// Tform6, the about box: the program's name, its version read from its own file, a line on
// what it does.

#include <QDialog>

class QLabel;

namespace ulen3 {

class Tform6 : public QDialog {
public:
    // programFile: the file whose version information is shown (the running program).
    explicit Tform6(const QString& programFile, QWidget* parent = nullptr);
    QString versionText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_programFile;
    QLabel* m_version;
};

} // namespace ulen3
