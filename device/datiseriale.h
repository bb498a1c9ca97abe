#pragma once

#include "widgets/form.h"

class Memo;

// The serial data monitor: every reception of qualification processing, as read.
class TForm_Dati_Seriale : public Form
{
    Q_OBJECT
public:
    TForm_Dati_Seriale();
    void FormCreate();
    // Appends a reception exactly as read, with no separator, whether or not the window is shown.
    void appendReceived(const QString& text);

    Memo* Me_Dati_Ser;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

extern TForm_Dati_Seriale* Form_Dati_Seriale;
