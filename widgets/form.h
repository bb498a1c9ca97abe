#pragma once

#include <QMainWindow>

class QAction;

// Base of the program's windows: one instance each, created hidden at start-up, shown modeless,
// controls placed at fixed positions in the client area. FormShow runs when the window passes from
// hidden to shown, FormClose whenever it closes (a close whose FormClose fails is refused, so the
// window stays open); both run through the handler guard.
class Form : public QMainWindow
{
    Q_OBJECT
public:
    enum class Border { Fixed, Sizeable, Tool, SizeableTool, Dialog, None };

    Form(const QString& name, const QString& caption, QWidget* parent = nullptr);

    QWidget* client() const { return m_client; }
    void setClientSize(int width, int height);
    void setOuterSize(int width, int height);
    void setBorder(Border border, bool closeBox = true);
    void setStayOnTop(bool onTop);

    // Shows the window, or brings it to the front when it is already shown.
    void showForm();

    // The menu bar "MainMenu1" with its menu "File" ("File1") holding one "Exit" item, named `exitName`.
    QAction* addFileExitMenu(const QString& exitName = QStringLiteral("Exit1"));

protected:
    virtual void FormShow() {}
    virtual void FormClose() {}

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void applyFlags();

    QWidget* m_client;
    Border m_border = Border::Fixed;
    bool m_closeBox = true;
    bool m_onTop = false;
};
