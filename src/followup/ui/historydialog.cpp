#include "followup/ui/historydialog.h"

#include "desktop/messagebox.h"
#include "followup/followupstore.h"
#include "followup/ui/historymodel.h"
#include "followup/ui/recordtables.h"
#include "storage/contactstore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

HistoryDialog::HistoryDialog(FollowUpStore &store, ContactStore &contacts,
                             RecordEditor::Clock clock, QWidget *parent)
    : QDialog(parent)
    , m_store(store)
    , m_contacts(contacts)
    , m_clock(std::move(clock))
    , m_model(new HistoryModel(this))
{
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QStringLiteral("回访记录"));
    m_person = new QLabel(this);
    m_person->setObjectName(QStringLiteral("person"));
    m_person->setWordWrap(true);
    m_person->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->hide();
    m_phoneSwitch = new QLabel(QStringLiteral("<a href=\"switch\">换一部手机</a>"), this);
    m_phoneSwitch->setObjectName(QStringLiteral("phoneSwitch"));
    m_phoneSwitch->hide();
    connect(m_phoneSwitch, &QLabel::linkActivated, this, [this] {
        m_phoneSwitch->hide();
        emit phoneSwitchRequested();
    });

    m_table = RecordTables::table(this, QStringLiteral("history"), QStringLiteral("回访记录"),
                                  m_model);
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->horizontalHeader()->setSectionResizeMode(HistoryModel::ContentColumn,
                                                      QHeaderView::Stretch);
    m_table->setColumnWidth(HistoryModel::TimeColumn, 150);
    m_table->setColumnWidth(HistoryModel::MethodColumn, 50);
    m_table->setColumnWidth(HistoryModel::ResultColumn, 80);
    m_table->setColumnWidth(HistoryModel::NextColumn, 90);
    // A double click or Enter edits the record.
    connect(m_table, &QTableView::activated, this,
            [this](const QModelIndex &index) { editRecord(index.row()); });

    m_editor = new RecordEditor(store, m_clock, this);
    connect(m_editor, &RecordEditor::saved, this, [this] {
        reload();
        emit recordsChanged();
    });

    auto *buttons = new QHBoxLayout;
    const auto addButton = [this, buttons](const char *name, const QString &caption) {
        return RecordTables::button(buttons, this, name, caption);
    };
    connect(addButton("call", QStringLiteral("拨打电话(&D)")), &QPushButton::clicked, this,
            [this] { emit callRequested(m_mobile); });
    connect(addButton("add", QStringLiteral("添加(&A)")), &QPushButton::clicked, this,
            [this] { addRecord(QStringLiteral("电话"), m_clock()); });
    connect(addButton("edit", QStringLiteral("修改(&E)")), &QPushButton::clicked, this,
            [this] { editRecord(selectedRow()); });
    connect(addButton("delete", QStringLiteral("删除(&X)")), &QPushButton::clicked, this,
            [this] { deleteRecord(selectedRow()); });
    buttons->addStretch();
    connect(addButton("close", QStringLiteral("关闭")), &QPushButton::clicked, this,
            &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_person);
    auto *statusLine = new QHBoxLayout;
    statusLine->addWidget(m_status, 1);
    statusLine->addWidget(m_phoneSwitch);
    layout->addLayout(statusLine);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    resize(720, 480);
}

bool HistoryDialog::showFor(const QString &mobile)
{
    if (mobile.trimmed() != m_mobile) {
        if (!editorFree())
            return false;
        setStatus(QString());
        offerPhoneSwitch(false);
    }
    m_mobile = mobile.trimmed();
    reload();
    show();
    raise();
    activateWindow();
    return true;
}

bool HistoryDialog::editorFree()
{
    if (!m_editor->isVisible())
        return true;
    if (!MessageBox::askYesNo(this, QStringLiteral("%1 的回访记录还没有保存，要放弃它吗？")
                                        .arg(m_editor->typedRecord().mobile))) {
        m_editor->raise();
        m_editor->activateWindow();
        return false;
    }
    m_editor->hide();
    return true;
}

void HistoryDialog::reload()
{
    ContactList holders;
    QStringList groups;
    QString error;
    QString person;
    if (m_contacts.holdersOf(m_mobile, &holders, &groups, &error) != StoreResult::Ok) {
        person = QStringLiteral("手机号：%1\n读取联系人失败：%2").arg(m_mobile, error);
    } else if (holders.isEmpty()) {
        person = QStringLiteral("手机号：%1\n该号码已不在任何分组中。").arg(m_mobile);
    } else {
        groups.removeDuplicates();
        const Contact &first = holders.first();
        person = QStringLiteral("姓名：%1    称呼：%2    手机号：%3\n所在分组：%4")
                     .arg(first.name(), first.salutation(), m_mobile,
                          groups.join(QStringLiteral("、")));
    }
    m_person->setText(person);

    QVector<HistoryEntry> entries;
    if (m_store.history(m_mobile, &entries, &error) != StoreResult::Ok)
        MessageBox::warning(this, QStringLiteral("读取“%1”的回访记录失败：%2").arg(m_mobile, error));
    m_model->replaceAll(std::move(entries));
}

void HistoryDialog::setStatus(const QString &text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

void HistoryDialog::offerPhoneSwitch(bool offer)
{
    m_phoneSwitch->setVisible(offer);
}

QString HistoryDialog::personText() const
{
    return m_person->text();
}

QString HistoryDialog::statusText() const
{
    return m_status->text();
}

void HistoryDialog::addRecord(const QString &method, const QDateTime &time)
{
    if (editorFree())
        m_editor->openForAdd(m_mobile, method, time);
}

int HistoryDialog::selectedRow() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

bool HistoryDialog::storedRecord(int row, FollowUpRecord &record)
{
    if (row < 0 || row >= m_model->rowCount())
        return false;
    const HistoryEntry &entry = m_model->at(row);
    if (entry.fromSendLog) {
        MessageBox::information(this, QStringLiteral("这是发送记录中的短信，不能在这里修改或删除。"));
        return false;
    }
    QString error;
    const StoreResult read = m_store.record(entry.id, &record, &error);
    if (read == StoreResult::Ok)
        return true;
    MessageBox::warning(this, read == StoreResult::NotFound
                                  ? QStringLiteral("这条回访记录已被删除。")
                                  : QStringLiteral("读取回访记录失败：%1").arg(error));
    reload();
    return false;
}

void HistoryDialog::editRecord(int row)
{
    FollowUpRecord record;
    if (storedRecord(row, record) && editorFree())
        m_editor->openForEdit(record);
}

void HistoryDialog::deleteRecord(int row)
{
    FollowUpRecord record;
    if (!storedRecord(row, record))
        return;
    if (!MessageBox::askYesNo(this, QStringLiteral("确定要删除 %1 的这条回访记录吗？").arg(record.time)))
        return;
    QString error;
    if (m_store.remove(record.id, &error) == StoreResult::Failed)
        MessageBox::warning(this, QStringLiteral("删除回访记录失败：%1").arg(error));
    reload();
    emit recordsChanged();
}
