#pragma once

#include "widgets/form.h"

class Memo;
class QTimer;

// The serial data monitor: every reception of qualification processing, as read.
class TForm_Dati_Seriale : public Form
{
    Q_OBJECT
public:
    TForm_Dati_Seriale();
    void FormCreate();
    // Appends a reception exactly as read, with no separator, whether or not the window is shown. The memo
    // shows it once the event loop runs again.
    void appendReceived(const QString& text);
    // A line of its own, set apart from the received bytes: a lap correction of the race director.
    void appendNote(const QString& line);
    // Everything received so far, including what the memo has not caught up with yet.
    QString receivedText() const;

    Memo* Me_Dati_Ser;

protected:
    void FormShow() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void catchUp();

    // Received but not yet in the memo.
    QString m_pending;
    QTimer* m_catchUpTimer;
};

extern TForm_Dati_Seriale* Form_Dati_Seriale;
