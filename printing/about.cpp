#include "printing/about.h"

#include "widgets/controls.h"
#include "widgets/fonts.h"

#include <QLabel>

TForm_About* Form_About = nullptr;

namespace {
QLabel* redLabel(QWidget* parent, const QString& name, const QString& text, int left, int top, int pixels, bool bold)
{
    auto* l = new QLabel(text, parent);
    l->setFont(fonts::bookAntiqua(pixels, bold));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    l->setPalette(p);
    return place(l, name, left, top);
}
} // namespace

TForm_About::TForm_About() : Form(QStringLiteral("Form_About"), QStringLiteral("About"))
{
    QWidget* c = client();
    Label1 = redLabel(c, QStringLiteral("Label1"), QStringLiteral("Quintara"), 64, 16, 20, true);
    // The product name stands on the colour of the active window border.
    Label1->setAutoFillBackground(true);
    QPalette p = Label1->palette();
    p.setColor(QPalette::Window, palette().color(QPalette::Active, QPalette::Highlight));
    Label1->setPalette(p);
    Label3 = redLabel(c, QStringLiteral("Label3"), QStringLiteral("cronometraggio RC"), 56, 64, 20, false);
    Label4 = redLabel(c, QStringLiteral("Label4"), QStringLiteral("per i club di pista"), 40, 88, 20, false);
    Label2 = redLabel(c, QStringLiteral("Label2"), QStringLiteral("versone 2.6"), 64, 120, 16, false);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setOuterSize(239, 173);
}
