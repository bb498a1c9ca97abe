#include "finals/finali.h"

#include "finals/distribution.h"
#include "race/gestione_gare.h"
#include "tables/convert.h"
#include "tables/layouts.h"
#include "tables/paths.h"
#include "tables/table.h"
#include "tables/timetext.h"
#include "widgets/controls.h"
#include "widgets/guard.h"

#include <QLabel>

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

TForm_Finali* Form_Finali = nullptr;

TForm_Finali::TForm_Finali() : Form(QStringLiteral("Form_Finali"), QStringLiteral("Finali"))
{
    Exit1 = addFileExitMenu();

    QWidget* c = client();
    Lbe_Nr_Conc_Finale = labeledEdit(c, QStringLiteral("Lbe_Nr_Conc_Finale"),
                                     QStringLiteral("Nr.concorrenti per finale:"), QStringLiteral("4"), 24, 32, 57);
    UpDown1 = new UpDown(Lbe_Nr_Conc_Finale, QStringLiteral("UpDown1"), 0, 100, 4, c);
    Lbe_Nr_Min_Finale = labeledEdit(c, QStringLiteral("Lbe_Nr_Min_Finale"), QStringLiteral("Nr. minuti della finale:"),
                                    QStringLiteral("2"), 24, 80, 57);
    UpDown2 = new UpDown(Lbe_Nr_Min_Finale, QStringLiteral("UpDown2"), 0, 100, 2, c);
    Chb_Finale_Singola_SN = place(new QCheckBox(QStringLiteral("Finale singola"), c),
                                  QStringLiteral("Chb_Finale_Singola_SN"), 24, 112, 121, 17);
    Chb_Finale_Singola_SN->setChecked(true);
    Button1 = place(new QPushButton(QStringLiteral("Esci"), c), QStringLiteral("Button1"), 24, 144, 89, 29);

    setBorder(Border::Fixed);
    setStayOnTop(true);
    setClientSize(201, 189);

    connectHandler(Button1, &QPushButton::clicked, this, &TForm_Finali::Button1Click);
    connectHandler(Exit1, &QAction::triggered, this, &TForm_Finali::Exit1Click);
}

void TForm_Finali::Button1Click()
{
    Chiudo();
}

void TForm_Finali::Exit1Click()
{
    Chiudo();
}

void TForm_Finali::Chiudo()
{
    TGestione_gare* g = Gestione_gare;
    // Both texts are checked before anything is appended, so a refused text never doubles the finalists.
    convert::strToInt(Lbe_Nr_Conc_Finale->text());
    convert::wholeNumberDuration(Lbe_Nr_Min_Finale->text(), timetext::minuteScale);
    // The finalists, from the whole qualification ranking.
    g->CDS_Gara->setFiltered(false);
    g->currentFinal.clear();
    Carico_Conc_Finali();
    // The number of finals: the highest letter loaded, whatever order the table is in.
    Table& finals = *g->CDS_Finali;
    QString highest;
    for (finals.first(); !finals.eof(); finals.next()) {
        const QString letter = finals.value(layouts::finale).toString();
        if (letter > highest)
            highest = letter;
    }
    if (highest.isEmpty()) {
        finals.last();
        highest = finals.asString(layouts::finale); // no finalist: the engine's conversion error
    }
    g->currentFinal = highest;
    g->Trasforma_Finale();
    g->Ed_Finali_Fatte->setText(QString::number(g->currentFinalIndex));
    // The first final started is chosen afresh.
    g->currentFinal.clear();
    finalsActive = true;
    close();
}

void TForm_Finali::Carico_Conc_Finali()
{
    if (Chb_Finale_Singola_SN->isChecked())
        Carico_Conc_Finali_Solo_Una();
    else
        Carico_Conc_Finali_Tutti();
    Carico_Parte_Comune();
}

void TForm_Finali::Carico_Parte_Comune()
{
    TGestione_gare* g = Gestione_gare;
    const QString blank = QStringLiteral(" ");
    g->Label3->setText(blank);
    g->Mem_qual_da_fare->setText(blank);
    g->Label2->setText(blank);
    g->Mem_Qualif_fatte->setText(blank);
    const double duration = convert::wholeNumberDuration(Lbe_Nr_Min_Finale->text(), timetext::minuteScale);
    g->remainingTime = duration;
    g->raceDuration = duration;
    g->showRemainingTime();
    g->CDS_Gara->close();
    g->Bitb_Stop->setEnabled(false);
    finalsActive = true;
    const QString path = paths::programFile(layouts::finalsFile);
    g->CDS_Finali->saveToFile(path);
    // Opened again from its file, as the qualification table is, so that the laps and positions of the
    // finals are written back when the program closes.
    g->CDS_Finali->close();
    layouts::openFinals(*g->CDS_Finali, path);
    emit g->raceChanged();
}

void TForm_Finali::Carico_Conc_Finali_Solo_Una()
{
    appendFinalists(true);
}

void TForm_Finali::Carico_Conc_Finali_Tutti()
{
    appendFinalists(false);
}

void TForm_Finali::appendFinalists(bool singleFinal)
{
    TGestione_gare* g = Gestione_gare;
    const int perFinal = convert::strToInt(Lbe_Nr_Conc_Finale->text());
    Table& ranking = *g->CDS_Gara;
    layouts::orderByRanking(ranking);
    ranking.first();
    // A single final reads only the names it takes.
    QStringList names;
    for (; !ranking.eof() && (!singleFinal || names.size() < perFinal); ranking.next())
        names.append(ranking.asString(layouts::nomeConc));
    const QList<FinalistRow> rows = distributeFinalists(names, perFinal, singleFinal);
    for (const FinalistRow& row : rows)
        g->CDS_Finali->appendRecord({row.number, row.letter, row.name, 0, QVariant(), QVariant(), QVariant()});
    // The window's final number and letter end where the loading left them: one step for every full
    // final, so past the 26th the letter stays "Z".
    finalNumber = 1;
    TrasformaFinale();
    if (!singleFinal && perFinal > 0) {
        for (qsizetype full = rows.size() / perFinal; full > 0; --full) {
            ++finalNumber;
            TrasformaFinale();
        }
    }
}

void TForm_Finali::TrasformaFinale()
{
    finalLetter(finalNumber, finalLetterText);
}
