#include "device/datiseriale.h"

#include "widgets/controls.h"

TForm_Dati_Seriale* Form_Dati_Seriale = nullptr;

TForm_Dati_Seriale::TForm_Dati_Seriale() : Form(QStringLiteral("Form_Dati_Seriale"), QStringLiteral("Form_Dati_Seriale"))
{
    Me_Dati_Ser = place(new Memo(client()), QStringLiteral("Me_Dati_Ser"), 0, 0, 641, 89);
    QFont f = Me_Dati_Ser->font();
    f.setBold(true);
    Me_Dati_Ser->setFont(f);
    Me_Dati_Ser->setReadOnly(true);
    Me_Dati_Ser->setEnabled(false);
    Me_Dati_Ser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    setBorder(Border::SizeableTool);
    setStayOnTop(true);
    setOuterSize(649, 123);
    move(46, 252);
}

void TForm_Dati_Seriale::FormCreate()
{
    Me_Dati_Ser->setText(QString());
}

void TForm_Dati_Seriale::appendReceived(const QString& text)
{
    Me_Dati_Ser->appendText(text);
}

void TForm_Dati_Seriale::resizeEvent(QResizeEvent* event)
{
    Form::resizeEvent(event);
    Me_Dati_Ser->setGeometry(client()->rect());
}
