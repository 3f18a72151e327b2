#include "Quorvane/Views/MainWindow/DisplaysView.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/DisplaysPage.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvane {

DisplaysView::DisplaysView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_recheck(new QPushButton(QStringLiteral("Recheck"), this))
    , m_controls(new DisplaysPage(model, this, DisplayNaming::editable))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    setObjectName(QStringLiteral("displaysView"));
    m_recheck->setObjectName(QStringLiteral("recheck"));
    m_recheck->setToolTip(QStringLiteral("Read the connected displays and their controls again"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->setSpacing(18);
    auto* header = new QHBoxLayout;
    header->addWidget(new PageHeading(QStringLiteral("QuorVane"), QStringLiteral("Displays"),
                          QStringLiteral("A control you adjust here holds its value until you "
                                         "resume it or its hold ends."),
                          this),
        1);
    header->addWidget(m_recheck, 0, Qt::AlignTop);
    layout->addLayout(header);
    layout->addWidget(m_controls);
    layout->addStretch();

    connect(m_recheck, &QPushButton::clicked, this, [this] { m_model.recheckHardware(); });
    m_refresh.watch(m_model.isRefreshing, m_model.isLoaded);
    refresh();
}

DisplaysView::~DisplaysView() = default;

void DisplaysView::refresh()
{
    const bool isChecking = *m_model.isRefreshing;
    m_recheck->setText(isChecking ? QStringLiteral("Checking…") : QStringLiteral("Recheck"));
    m_recheck->setEnabled(*m_model.isLoaded && !isChecking);
}

} // namespace quorvane
