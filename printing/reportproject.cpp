#include "printing/reportproject.h"

#include "printing/dataconnection.h"
#include "printing/logging.h"
#include "printing/reportdocument.h"
#include "tables/error.h"
#include "tables/paths.h"

#include <QDir>
#include <QFileInfo>

Q_LOGGING_CATEGORY(lcPrinting, "quintara.printing")

namespace {

QString& outputPdfPath()
{
    static QString path;
    return path;
}

} // namespace

ReportProject::ReportProject(const QString& name, const QString& projectFile, QObject* parent)
    : QObject(parent), m_projectFile(projectFile)
{
    setObjectName(name);
}

ReportProject::~ReportProject() = default;

QString ReportProject::missingProjectMessage(const QString& path)
{
    return QStringLiteral("The following reporting project does not exist:\n\"%1\"")
        .arg(QDir::toNativeSeparators(path));
}

void ReportProject::setOutputPdf(const QString& path)
{
    outputPdfPath() = path;
}

QString ReportProject::outputPdf()
{
    return outputPdfPath();
}

const ReportLayout& ReportProject::layout()
{
    if (!m_layout) {
        const QFileInfo info(m_projectFile);
        const QString path = paths::findFile(info.path(), info.fileName());
        if (!QFileInfo(path).isFile())
            throw AppError(missingProjectMessage(m_projectFile));
        m_layout = std::make_unique<ReportLayout>(ReportLayout::load(path));
        qCInfo(lcPrinting) << "loaded report project" << path;
    }
    return *m_layout;
}

DataConnection* ReportProject::connection(const QString& name) const
{
    if (QObject* owner = parent()) {
        const QList<DataConnection*> connections = owner->findChildren<DataConnection*>();
        for (DataConnection* c : connections) {
            if (c->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return c;
        }
    }
    throw AppError(QStringLiteral("The report project \"%1\" needs the data connection %2, which does not exist")
                       .arg(QDir::toNativeSeparators(m_projectFile), name));
}

ReportDocument ReportProject::prepare()
{
    const ReportLayout& l = layout();
    ReportData data = connection(l.connection)->read(l.fieldNames());
    return ReportDocument(l, std::move(data), QDate::currentDate());
}

std::shared_ptr<const ReportDocument> ReportProject::Execute()
{
    ReportDocument document = prepare();
    if (!outputPdfPath().isEmpty()) {
        document.writePdf(outputPdfPath());
        return nullptr;
    }
    return std::make_shared<const ReportDocument>(std::move(document));
}

int ReportProject::renderToPdf(const QString& path)
{
    return prepare().writePdf(path);
}
