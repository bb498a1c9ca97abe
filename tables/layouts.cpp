#include "tables/layouts.h"

#include "tables/table.h"

#include <algorithm>

namespace layouts {

void defineCompetitorList(Table& table)
{
    table.clearFields();
    table.addField(concorrente, FieldType::String, 30);
    table.addField(frequenza, FieldType::Float);
    table.addField(gruppo, FieldType::String, 30);
}

void defineHeats(Table& table)
{
    table.clearFields();
    table.addField(nBatteria, FieldType::Integer);
    table.addField(concorrente, FieldType::String, 30);
    table.addField(frequenza, FieldType::Float);
    table.addField(gruppo, FieldType::String, 30);
}

void defineQualification(Table& table)
{
    table.clearFields();
    table.addField(batteria, FieldType::Integer);
    table.addField(num, FieldType::Integer);
    table.addField(nomeConc, FieldType::String, 30);
    table.addField(giri, FieldType::Integer);
    table.addField(tempoSGiroTtime, FieldType::Time);
    table.addField(tempoSGiro, FieldType::String, timeTextSize);
    table.addField(tempoTotTtime, FieldType::Time);
    table.addField(tempoTot, FieldType::String, timeTextSize);
    table.addField(tempoMiglTtime, FieldType::Time);
    table.addField(tempoMigl, FieldType::String, timeTextSize);
}

static void defineFinalsIndex(Table& table)
{
    table.clearIndexes();
    table.addIndex(IndexDef{finalsIndexName, nGiri, true, true});
}

void defineFinals(Table& table)
{
    table.clearFields();
    table.addField(nr, FieldType::Integer);
    table.addField(finale, FieldType::String, 20);
    table.addField(nomeCon, FieldType::String, 30);
    table.addField(nGiri, FieldType::Integer);
    table.addField(tempoSGiroTime, FieldType::Time);
    table.addField(tempoSGiroText, FieldType::String, timeTextSize);
    table.addField(tempoTotTime, FieldType::Time);
    table.addField(tempoTotText, FieldType::String, timeTextSize);
    table.addField(tempoMiglTime, FieldType::Time);
    table.addField(tempoMiglText, FieldType::String, timeTextSize);
    table.addField(posiz, FieldType::Integer);
    defineFinalsIndex(table);
}

const RaceFields& raceFields(bool finals)
{
    static const RaceFields qualification{qualificationFile, num, batteria, nomeConc, giri,
                                          tempoSGiroTtime, tempoSGiro, tempoMiglTtime, tempoMigl,
                                          tempoTotTtime, tempoTot};
    static const RaceFields finalsTable{finalsFile, nr, finale, nomeCon, nGiri,
                                        tempoSGiroTime, tempoSGiroText, tempoMiglTime, tempoMiglText,
                                        tempoTotTime, tempoTotText};
    return finals ? finalsTable : qualification;
}

void openFinals(Table& table, const QString& path)
{
    defineFinalsIndex(table);
    table.setFileName(path);
    table.open();
}

QList<int> qualificationHiddenColumns()
{
    return {4, 6, 8};
}

QList<int> finalsHiddenColumns()
{
    return {4, 6, 8, 10};
}

} // namespace layouts

namespace layouts {

void orderByRanking(Table& qualification)
{
    // Ranking a competitor who crossed the line once (best lap 0) as the fastest would put him into
    // final "A": untimed competitors come after every timed one.
    static const QString ranking = QStringLiteral("ranking");
    const QList<IndexDef>& defined = qualification.indexes();
    if (std::none_of(defined.cbegin(), defined.cend(), [](const IndexDef& d) { return d.name == ranking; }))
        qualification.addIndex(IndexDef{ranking, tempoMiglTtime, false, false, true});
    qualification.setIndexName(ranking);
}

} // namespace layouts
