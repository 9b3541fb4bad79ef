// The marketplace categories, the category's features and the item-specifics page.
#include "editor/addarticle.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"
#include "editor/companions/addarticlecategories.h"
#include "editor/companions/ownattribute.h"
#include "editor/itemspecifics.h"
#include "marketplace/api_ebay.h"
#include "views/noticelabel.h"

#include "ui_addarticle.h"

#include <QScrollBar>
#include <QTimer>
#include <QXmlStreamReader>

namespace {

using Blocks = QList<ItemSpecifics::Block>;

// The first saved block of `name`, taken out of `blocks`; a block without values when none.
ItemSpecifics::Block takeBlock(Blocks &blocks, const QString &name)
{
    for (int i = 0; i < blocks.size(); ++i)
        if (blocks.at(i).name == name)
            return blocks.takeAt(i);
    return {};
}

} // namespace

void AddArticle::on_PrimaryCategory_clicked()
{
    if (!m_savedSpecifics.isEmpty()
        && !Statics::showQuestionDialog(
            this, tr("Artikelmerkmale gehen beim Kategoriewechsel verloren"),
            tr("Durch eine Änderung der Kategorie werden auch die Artikelmerkmale zurückgesetzt, "
               "möchten Sie fortfahren?")))
        return;
    auto *chooser = new AddArticleCategories(
        this, m_db, m_ui->Account->currentData().toInt(), currentSite(),
        m_ui->PrimaryCategory->property("id").toString(),
        m_ui->PrimaryCategory->property("attr").toString(), m_ui->Title->text());
    chooser->setWindowModality(Qt::WindowModal);
    if (chooser->exec() == QDialog::Accepted) {
        m_ui->PrimaryCategory->setText(chooser->getSelectedPath());
        m_ui->PrimaryCategory->setProperty("CategoryText", chooser->getSelectedFullPath());
        m_ui->PrimaryCategory->setProperty("CategoryID", chooser->getSelectedId());
        if (chooser->getSelectedId() != m_specificsCategory) {
            // The same category again keeps the page and what was entered on it.
            m_savedSpecifics.clear();
            m_specificsBuilt = false;
            createItemSpecifics();
            if (!m_accounts.isEmpty())
                setDetaultFromSelectedCat();
        }
        m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabMerkmale), true);
        m_ui->SecondaryCategory->setEnabled(true);
    }
    chooser->deleteLater();
}

void AddArticle::on_SecondaryCategory_clicked()
{
    auto *chooser = new AddArticleCategories(
        this, m_db, m_ui->Account->currentData().toInt(), currentSite(),
        m_ui->SecondaryCategory->property("id").toString(),
        m_ui->SecondaryCategory->property("attr").toString(), m_ui->Title->text());
    chooser->setIsSecond();
    chooser->setWindowModality(Qt::WindowModal);
    if (chooser->exec() == QDialog::Accepted) {
        if (chooser->delCatNow()) {
            m_ui->SecondaryCategory->setText(tr("ggf. kostenpflichtige zweite Kategorie hinzufügen"));
            m_ui->SecondaryCategory->setProperty("CategoryID", QString());
        } else if (chooser->getSelectedId()
                   == m_ui->PrimaryCategory->property("CategoryID").toString()) {
            Statics::showMessage(
                this, tr("Die ausgewählte Kategorie ist mit der Hauptkategorie identisch"), 0);
        } else {
            m_ui->SecondaryCategory->setText(chooser->getSelectedPath());
            m_ui->SecondaryCategory->setProperty("CategoryText", chooser->getSelectedFullPath());
            m_ui->SecondaryCategory->setProperty("CategoryID", chooser->getSelectedId());
        }
    }
    chooser->deleteLater();
}

void AddArticle::setDetaultFromSelectedCat()
{
    const QString category = m_ui->PrimaryCategory->property("CategoryID").toString();
    const QString site = currentSite();
    const QMap<QString, QVariant> *account = chosenAccount();
    if (!account)
        return;
    Api_Ebay api(account->value(QStringLiteral("token")).toString(), this,
                 account->value(QStringLiteral("sandbox")).toInt());

    const auto conditions =
        api.getCategoryFeatures(category, site, QStringLiteral("ConditionValues"), m_db);
    noteLists(api, { m_ui->ConditionID });
    m_ui->ConditionID->clear();
    m_ui->ConditionID->addItem(QStringLiteral("-"), 0);
    for (const auto &condition : conditions)
        for (auto it = condition.cbegin(); it != condition.cend(); ++it)
            m_ui->ConditionID->addItem(it.value(), it.key().toInt());
    m_ui->ConditionID->setCurrentIndex(0);
    m_ui->ConditionIDLabel->setVisible(m_ui->ConditionID->count() >= 2);
    m_ui->ConditionID->setVisible(m_ui->ConditionID->count() >= 2);

    const auto variations =
        api.getCategoryFeatures(category, site, QStringLiteral("VariationsEnabled"), m_db);
    // Not knowing whether the category allows variations, the page stays as it is.
    if (noteLists(api, {}))
        m_ui->tabWidget->setTabEnabled(
            m_ui->tabWidget->indexOf(m_ui->TabVars),
            !variations.isEmpty()
                && variations.first().value(QStringLiteral("VariationsEnabled"))
                    == QLatin1String("true"));

    const auto identifiers =
        api.getCategoryFeatures(category, site, QStringLiteral("EANEnabled"), m_db);
    noteLists(api, { m_ui->EANorISBN });
    if (identifiers.isEmpty())
        return;
    const QStringList states =
        identifiers.first().value(QStringLiteral("EANEnabled")).split(QLatin1Char(','));
    const bool used = states.contains(QStringLiteral("Enabled"))
        || states.contains(QStringLiteral("Required"));
    m_ui->EANorISBN->setEnabled(used);
    m_ui->EANorISBN->setVisible(used);
    m_ui->EANorISBNLabel->setVisible(used);
    if (!used)
        m_ui->EANorISBN->setEditText(QString());
    const QStringList kinds = { QStringLiteral("EAN"), QStringLiteral("ISBN"),
                                QStringLiteral("UPC") };
    for (int i = 0; i < kinds.size() && i < states.size(); ++i) {
        if (states.at(i).isEmpty())
            continue;
        m_ui->EANorISBNLabel->setText(kinds.at(i)
                                      + (states.at(i) == QLatin1String("Required")
                                             ? QStringLiteral(" *")
                                             : QString()));
        m_ui->EANorISBN->setProperty("field", kinds.at(i));
    }
}

void AddArticle::createItemSpecifics()
{
    m_specificsCategory = m_ui->PrimaryCategory->property("CategoryID").toString();
    Blocks saved = ItemSpecifics::read(m_savedSpecifics);

    QString reply;
    QString failure;
    if (const QMap<QString, QVariant> *account = chosenAccount()) {
        Api_Ebay api(account->value(QStringLiteral("token")).toString(), this,
                     account->value(QStringLiteral("sandbox")).toInt());
        reply = api.getCategorySpecifics(m_specificsCategory, currentSite(), m_db);
        noteLists(api, {});
        failure = api.getLastFail();
    }
    if (!reply.contains(QLatin1String("<Ack>Success</"))) {
        if (!failure.isEmpty())
            showStoredSpecifics(failure);
        return;
    }

    m_specificsBuilt = true;
    m_specificsWidgets.clear();
    QLayout *page = m_ui->ItemSpecificsAreaContents->layout();
    removeW(page);
    // Added in one go: a page of many specifics is laid out once.
    m_ui->ItemSpecificsAreaContents->setUpdatesEnabled(false);

    const QString base = QStringLiteral("GetCategorySpecificsResponse/Recommendations/NameRecommendation");
    QStringList path;
    QString name;
    QString mode;
    QStringList values;
    int min = 0;
    int max = 0;
    QXmlStreamReader xml(reply);
    while (!xml.atEnd() && !xml.hasError()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            path << xml.name().toString();
            const QString at = path.join(QLatin1Char('/'));
            if (at == base) {
                values.clear();
                min = max = 0;
                mode.clear();
                name.clear();
            } else if (at == base + QStringLiteral("/Name")) {
                name = xml.readElementText();
            } else if (at == base + QStringLiteral("/ValueRecommendation/Value")) {
                values << Statics::fixHtml(xml.readElementText());
            } else if (at == base + QStringLiteral("/ValidationRules/SelectionMode")) {
                mode = xml.readElementText();
            } else if (at == base + QStringLiteral("/ValidationRules/MinValues")) {
                min = xml.readElementText().toInt();
            } else if (at == base + QStringLiteral("/ValidationRules/UsageConstraint")) {
                // Current replies mark a required specific this way, often without MinValues.
                if (xml.readElementText() == QLatin1String("Required"))
                    min = qMax(min, 1);
            } else if (at == base + QStringLiteral("/ValidationRules/MaxValues")) {
                max = xml.readElementText().toInt();
            } else if (at == base + QStringLiteral("/HelpText")) {
                auto *help = createPlainLabel(xml.readElementText(), this);
                help->setWordWrap(true);
                page->addWidget(help);
            }
            if (xml.tokenType() == QXmlStreamReader::EndElement)
                path.removeLast();
        } else if (token == QXmlStreamReader::EndElement) {
            if (path.join(QLatin1Char('/')) == base) {
                auto *label = createPlainLabel(name, this);
                if (min > 0) {
                    QFont font = label->font();
                    font.setWeight(75);
                    label->setFont(font);
                    label->setText(name + QStringLiteral(" *"));
                }
                page->addWidget(label);
                if (max == 1) {
                    auto *box = new QComboBox(this);
                    box->setProperty("name", name);
                    if (min > 0)
                        box->setProperty("req", true);
                    box->installEventFilter(this);
                    for (const QString &value : qAsConst(values))
                        box->addItem(value, value);
                    if (mode == QLatin1String("FreeText")) {
                        box->setEditable(true);
                        box->setCurrentIndex(-1);
                        box->setEditText(QString());
                    } else if (mode == QLatin1String("SelectionOnly")) {
                        box->setEditable(false);
                        box->insertItem(0, QStringLiteral("-"), QString());
                        box->setCurrentIndex(0);
                    } else {
                        qCInfo(lcApp) << "Unknown selection mode" << mode;
                    }
                    const auto block = takeBlock(saved, name);
                    if (!block.values.isEmpty()) {
                        const QString value = Statics::fixHtml(block.values.first());
                        if (box->isEditable()) {
                            box->setEditText(value);
                        } else {
                            const int index = box->findData(value);
                            if (index >= 0)
                                box->setCurrentIndex(index);
                        }
                    }
                    page->addWidget(box);
                    m_specificsWidgets << box;
                } else if (!values.isEmpty()) {
                    const auto block = takeBlock(saved, name);
                    for (const QString &value : qAsConst(values)) {
                        auto *box = new QCheckBox(value, this);
                        box->setProperty("name", name);
                        box->setChecked(block.values.contains(value));
                        page->addWidget(box);
                        m_specificsWidgets << box;
                    }
                }
            }
            if (!path.isEmpty())
                path.removeLast();
        }
    }

    // What the category does not recommend stays as the seller's own specifics.
    for (const auto &block : qAsConst(saved))
        if (!block.name.isEmpty())
            addOwnSpecific(block.name, block.values.value(0));
    static_cast<QBoxLayout *>(page)->addStretch();
    m_ui->ItemSpecificsAreaContents->setUpdatesEnabled(true);
    m_ui->pushButton->setEnabled(true);
}

void AddArticle::showStoredSpecifics(const QString &reason)
{
    // Nothing of an earlier page may look as if it were saved: the stored text is.
    m_specificsBuilt = false;
    m_specificsWidgets.clear();
    QLayout *page = m_ui->ItemSpecificsAreaContents->layout();
    removeW(page);
    const Blocks saved = ItemSpecifics::read(m_savedSpecifics);
    auto *note = createPlainLabel(
        (saved.isEmpty() ? tr("Die Artikelmerkmale der Kategorie konnten nicht geladen werden "
                              "(%1).")
                         : tr("Die Artikelmerkmale der Kategorie konnten nicht geladen werden "
                              "(%1). Die gespeicherten Merkmale werden unverändert übernommen:"))
            .arg(reason),
        this);
    note->setWordWrap(true);
    page->addWidget(note);
    for (const auto &block : saved) {
        if (block.name.isEmpty())
            continue;
        auto *line = new QLabel(QStringLiteral("<b>%1</b>: %2")
                                    .arg(block.name.toHtmlEscaped(),
                                         block.values.join(QStringLiteral(", ")).toHtmlEscaped()),
                                this);
        line->setObjectName(QStringLiteral("StoredSpecific"));
        line->setWordWrap(true);
        line->setTextInteractionFlags(Qt::TextSelectableByMouse);
        page->addWidget(line);
    }
    static_cast<QBoxLayout *>(page)->addStretch();
    // An own specific could not be saved beside the stored text.
    m_ui->pushButton->setEnabled(false);
}

void AddArticle::addOwnSpecific(const QString &name, const QString &value)
{
    QLayout *page = m_ui->ItemSpecificsAreaContents->layout();
    page->addWidget(createPlainLabel(tr("Eigenes Merkmal: %1").arg(name), this));
    auto *box = new QComboBox(this);
    box->setEditable(true);
    box->setProperty("name", name);
    box->installEventFilter(this);
    box->addItem(value, value);
    box->setCurrentIndex(0);
    page->addWidget(box);
    m_specificsWidgets << box;
}

void AddArticle::on_pushButton_clicked()
{
    auto *dialog = new OwnAttribute(this);
    dialog->setWindowModality(Qt::WindowModal);
    if (dialog->exec() == QDialog::Accepted)
        addOwnSpecific(dialog->getName(), dialog->getVal());
    dialog->deleteLater();
    QTimer::singleShot(400, this, &AddArticle::moveScroll);
}

void AddArticle::moveScroll()
{
    m_ui->ItemSpecificsArea->verticalScrollBar()->setValue(10000);
}

void AddArticle::removeW(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (item->layout())
            removeW(item->layout());
        delete item->widget();
        delete item;
    }
}

bool AddArticle::itemSpecificsText(QString &text)
{
    if (!m_specificsBuilt) {
        text = m_savedSpecifics;
        return true;
    }
    QList<ItemSpecifics::Block> blocks;
    QString openName;
    bool open = false;
    for (QWidget *widget : qAsConst(m_specificsWidgets)) {
        const QString name = widget->property("name").toString();
        if (auto *box = qobject_cast<QComboBox *>(widget)) {
            open = false;
            const bool empty = box->isEditable() ? box->currentText().isEmpty()
                                                 : box->currentIndex() < 1;
            if (box->property("req").isValid() && empty) {
                Statics::showMessage(this, tr("Das Merkmal %1 muss ausgefüllt werden").arg(name), 1);
                m_ui->tabWidget->setCurrentWidget(m_ui->TabMerkmale);
                return false;
            }
            blocks.append({ name, { box->currentText() } });
        } else if (auto *check = qobject_cast<QCheckBox *>(widget)) {
            // The checked values of a run of check boxes of one name make one block.
            if (!check->isChecked()) {
                if (name != openName)
                    open = false;
                continue;
            }
            if (open && name == openName)
                blocks.last().values << check->text();
            else
                blocks.append({ name, { check->text() } });
            open = true;
            openName = name;
        }
    }
    text = ItemSpecifics::write(blocks);
    m_savedSpecifics = text;
    return true;
}
