#include "device/datiseriale.h"

#include "widgets/controls.h"

#include <QTimer>

TForm_Dati_Seriale* Form_Dati_Seriale = nullptr;

namespace {
// How often a shown monitor catches up with the receptions.
constexpr int shownCatchUpMs = 200;
} // namespace

TForm_Dati_Seriale::TForm_Dati_Seriale()
    : Form(QStringLiteral("Form_Dati_Seriale"), QStringLiteral("Form_Dati_Seriale"))
{
    Me_Dati_Ser = place(new Memo(client()), QStringLiteral("Me_Dati_Ser"), 0, 0, 641, 89);
    QFont f = Me_Dati_Ser->font();
    f.setBold(true);
    Me_Dati_Ser->setFont(f);
    Me_Dati_Ser->setReadOnly(true);
    Me_Dati_Ser->setEnabled(false);
    Me_Dati_Ser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_catchUpTimer = new QTimer(this);
    m_catchUpTimer->setSingleShot(true);
    connect(m_catchUpTimer, &QTimer::timeout, this, &TForm_Dati_Seriale::catchUp);

    setBorder(Border::SizeableTool);
    setStayOnTop(true);
    setOuterSize(649, 123);
    move(46, 252);
}

void TForm_Dati_Seriale::FormCreate()
{
    m_pending.clear();
    Me_Dati_Ser->setText(QString());
}

void TForm_Dati_Seriale::appendReceived(const QString& text)
{
    // The memo holds one paragraph that only grows, and laying it out again takes longer with every passage
    // (about 1 ms at 4000 characters). Inside the receive handler that would delay the passage's time stamp, so
    // the memo catches up once the handler has returned, and no more than a few times a second while shown.
    m_pending += text;
    if (!m_catchUpTimer->isActive())
        m_catchUpTimer->start(isVisible() ? shownCatchUpMs : 0);
}

void TForm_Dati_Seriale::appendNote(const QString& line)
{
    appendReceived(QStringLiteral("\n") + line + QStringLiteral("\n"));
}

QString TForm_Dati_Seriale::receivedText() const
{
    return Me_Dati_Ser->text() + m_pending;
}

void TForm_Dati_Seriale::FormShow()
{
    catchUp();
}

void TForm_Dati_Seriale::catchUp()
{
    if (m_pending.isEmpty())
        return;
    Me_Dati_Ser->appendText(m_pending);
    m_pending.clear();
}

void TForm_Dati_Seriale::resizeEvent(QResizeEvent* event)
{
    Form::resizeEvent(event);
    Me_Dati_Ser->setGeometry(client()->rect());
}
