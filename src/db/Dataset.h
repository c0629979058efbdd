#pragma once
// An editable, scrollable dataset over one select statement.
//
// Open() runs the select and fetches every row once into memory, in typed
// column storage: integers, doubles, dates (day numbers) and time stamps in
// plain arrays, texts as cp1251 bytes in one buffer with offsets, and a null
// bit per cell. Nothing is decoded until a value is read.
//
// Fields. Every column of the select is a data field. More fields can be
// added by AddField() before opening (or calculated ones at any time): an added
// field whose name matches a column gives that column its display format and
// size; one that matches no column must be calculated, or Open() fails.
// Calculated fields are never stored: the OnCalcFields event fills them for a
// row when one of them is first read there (the grid reads them only for the
// rows it shows) and the values are kept until the row changes or
// InvalidateCalcFields().
//
// Cursor. First/Next/Prior/Last/MoveBy/MoveTo move over the visible rows;
// Bof()/Eof() are set after opening, after First()/Last() and when a move
// tries to go past either end. RecNo() is 1-based; 0 when empty. Every change
// of the current row fires BeforeScroll and AfterScroll (also when a grid
// moved it) and makes master-detail children follow; opening, refreshing and
// refiltering fire AfterScroll when there is a row. A move that does not
// change the row fires nothing.
//
// Editing. Edit() or Append() starts a row buffer; field setters write into
// it; Post() runs the modify (edit) or insert (append) statement with the
// row's values as parameters: ":NAME" takes the new value of field NAME,
// ":OLD_NAME" its value before the edit. The cached row is then updated in
// place (an appended row goes to the end) and AfterPost fires. A modify
// statement that updates no row makes Post() fail and the edit stays open
// (the cache never shows what the database does not hold). Cancel()
// drops the buffer. Moving the cursor posts a pending edit first; Close()
// drops it.
//
// Filter. Filter()/Filtered() only keep the text and the switch for callers
// that restore them; the rows themselves are narrowed by the select text (a
// WHERE) or, in memory, by the RowFilter and OnFilterRecord predicates while
// Filtered() is on. Refilter() applies changed predicates again. Both show
// the first row, unless they are given a row to stay on that is still shown.
//
// Stored rows. The rows fetched are numbered 0.. in the order read (the
// physical rows); the visible rows are those the filter keeps, in the same
// order. The Stored* accessors read a physical row's cached value directly
// (texts as the cp1251 bytes kept), without events or calculated fields.
// SetStoredValue() changes a cached value after the caller has changed the
// database itself, and Resync() then shows the cache again as Refresh() would
// after re-reading it.
//
// Master-detail. SetMaster(master, masterField, detailField): whenever the
// master's current row changes (or it opens, closes or refreshes) an open
// detail is reopened with the master field's value: with a detail field the
// rows are those whose detailField equals it; without one the value is bound
// to the select's parameter named masterField.
//
// DisableControls()/EnableControls() suspend the change notifications a bound
// grid listens to and the following of detail datasets (nesting counts);
// the last EnableControls() catches up once: the views are reset and the
// details follow when rows or values changed meanwhile; when only the
// current row moved, the views and details just follow it.
//
// An open dataset keeps its statements prepared, and a prepared statement
// keeps its table in use: close the dataset before dropping or altering the
// table. Close() frees the statements, so a dataset opens again after the
// database was disconnected and connected again.
//
// All database failures throw pc::fb::DbError; misuse (no such field, edit
// while closed) throws it too with a plain message.

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pc::fb {
class Transaction;
class Statement;
} // namespace pc::fb

namespace pc {

class Dataset;

enum class FieldType : unsigned char { Smallint, Integer, LargeInt, Float, String, Date, DateTime, Time };
enum class DatasetState : unsigned char { Inactive, Browse, Edit, Insert };

// A field of a Dataset; reads and writes the current row (or, inside the
// calc-fields event and an ActiveRow scope, the row being handled). Field
// objects live as long as their dataset, across Close()/Open().
class Field {
public:
    const QString &FieldName() const { return m_name; }
    FieldType DataType() const { return m_type; }
    bool Calculated() const { return m_calculated; }
    int Size() const { return m_size; }
    const QString &DisplayFormat() const { return m_displayFormat; }
    void SetDisplayFormat(const QString &format) { m_displayFormat = format; }
    int Index() const; // position in the dataset's field list

    bool IsNull() const;
    QString AsString() const;    // null: empty text
    int AsInteger() const;       // null: 0; floats rounded to nearest
    qint64 AsLargeInt() const;
    double AsFloat() const;      // null: 0
    QDateTime AsDateTime() const;
    QDate AsDate() const;
    QVariant Value() const;      // null: invalid QVariant
    // The text a grid shows: the display format for numbers ("#.##" gives
    // "12,5", ",5" and "" for 12.5, 0.5 and 0 under a Russian locale), the
    // locale's short date, texts as they are.
    QString DisplayText() const;

    // Setters work in the Edit and Insert states (and on calculated fields
    // inside OnCalcFields). Text into a non-text field is parsed; empty text
    // makes it null.
    void SetAsString(const QString &value);
    void SetAsInteger(qint64 value);
    void SetAsFloat(double value);
    void SetAsDateTime(const QDateTime &value);
    void SetAsDate(const QDate &value);
    void SetValue(const QVariant &value);
    void Clear();

private:
    friend class Dataset;
    Field(Dataset *ds, QString name, FieldType type, int size, bool calculated)
        : m_ds(ds), m_name(std::move(name)), m_type(type), m_size(size), m_calculated(calculated)
    {
    }
    Dataset *m_ds;
    QString m_name;
    FieldType m_type;
    int m_size;
    bool m_calculated;
    QString m_displayFormat;
    bool m_added = false; // defined by AddField (kept across opens)
    int m_slot = -1;      // storage column (data) or calc slot (calculated)
};

// FormatFloat-style formatting with '#', '0', ',' (grouping) and '.' in the
// pattern, in the given (default: the system's) locale.
QString FormatFloat(const QString &pattern, double value);

struct LocateOptions {
    bool caseInsensitive = false;
    bool partialKey = false;
};

class Dataset : public QObject {
    Q_OBJECT
public:
    explicit Dataset(fb::Transaction &transaction, QObject *parent = nullptr);
    ~Dataset() override;

    // Statements. A table dataset is one whose select is "SELECT * FROM name".
    void SetSelectSQL(const QString &sql);
    const QString &SelectSQL() const { return m_selectSql; }
    void SetModifySQL(const QString &sql);
    void SetInsertSQL(const QString &sql);
    void SetTableName(const QString &name); // select := "SELECT * FROM " + name
    const QString &TableName() const { return m_tableName; }
    // Parameters of the select (kept across reopenings).
    void SetParam(const QString &name, const QVariant &value);
    QVariant Param(const QString &name) const; // invalid when never set

    // Fields.
    Field &AddField(const QString &name, FieldType type, int size = 0, bool calculated = false,
                    const QString &displayFormat = QString());
    void RemoveField(const QString &name); // an added field, while closed
    Field &FieldByName(const QString &name) const; // throws when absent
    Field *FindField(const QString &name) const;   // nullptr when absent
    int FieldCount() const { return int(m_fields.size()); }
    Field &Fields(int i) const { return *m_fields.at(size_t(i)); }

    // Open and close.
    void Open();
    void Close();
    void SetActive(bool on) { on ? Open() : Close(); }
    bool Active() const { return m_state != DatasetState::Inactive; }
    // Re-reads the rows and returns to the same row number (or the last row).
    void Refresh();
    DatasetState State() const { return m_state; }
    // Bytes held by the row storage (for measurements).
    size_t StorageBytes() const;
    // Changes whenever the stored or the visible rows change (opened, read
    // again, posted, filtered): what a caller built from the rows is stale
    // when it differs from the value it was built at.
    quint64 Version() const { return m_version; }

    // Cursor.
    int RecordCount() const { return int(m_view.size()); }
    bool IsEmpty() const { return m_view.empty(); }
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance); // returns the distance moved
    bool Bof() const { return m_bof; }
    bool Eof() const { return m_eof; }
    int RecNo() const { return m_view.empty() ? 0 : m_current + 1; }
    void SetRecNo(int recNo); // 1-based
    int CurrentRow() const { return m_view.empty() ? -1 : m_current; } // 0-based visible row

    using Bookmark = int;
    static constexpr Bookmark kNoBookmark = -1;
    Bookmark GetBookmark() const;
    bool BookmarkValid(Bookmark b) const;
    bool GotoBookmark(Bookmark b); // false when the row is not visible any more

    // Editing.
    void Edit();
    void Append();
    void Post();
    void Cancel();

    // Search. Locate moves to the first visible row whose field matches
    // (texts: case-insensitive and/or by leading part when asked; other kinds
    // by value) and returns true; else the cursor stays. Lookup reads one
    // field of that row without moving.
    using LocateOptions = pc::LocateOptions;
    bool Locate(const QString &fieldName, const QVariant &value, LocateOptions options = {});
    QVariant Lookup(const QString &keyField, const QVariant &keyValue, const QString &resultField);

    // Filter text and switch (see above), and the in-memory predicates:
    // RowFilter is asked with a physical row, OnFilterRecord with the row
    // made active.
    void SetFilter(const QString &text) { m_filterText = text; }
    const QString &Filter() const { return m_filterText; }
    void SetFiltered(bool on);
    // The same, staying on the row stayOn (a bookmark) when it is shown after.
    void SetFiltered(bool on, Bookmark stayOn);
    bool Filtered() const { return m_filtered; }
    std::function<bool(Dataset &)> OnFilterRecord;
    std::function<bool(int physicalRow)> RowFilter;
    // Applies the predicates again (posting a pending edit) and shows the
    // first row, as reopening would.
    void Refilter();
    void Refilter(Bookmark stayOn);

    // Stored rows (see above).
    int PhysicalRowCount() const { return m_rowCount; }
    int PhysicalRow(int visibleRow) const { return m_view.at(size_t(visibleRow)); }
    int VisibleRow(int physicalRow) const; // -1 when filtered out
    bool StoredIsNull(const Field &field, int physicalRow) const;
    std::string_view StoredText(const Field &field, int physicalRow) const; // "" when null
    qint64 StoredInteger(const Field &field, int physicalRow) const;        // integer kinds; 0 when null
    QVariant StoredValue(const Field &field, int physicalRow) const;
    // Sets a stored value without writing it (the database already holds
    // it); an edit pending on that row is then checked against it.
    void SetStoredValue(const Field &field, int physicalRow, const QVariant &value);
    // Filters the cached rows again and returns to the same row number (or
    // the last row), with the events of Refresh(); nothing is read.
    void Resync();

    // Master-detail.
    void SetMaster(Dataset *master, const QString &masterField, const QString &detailField = QString());
    Dataset *Master() const { return m_master; }

    // Bound controls.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disabled > 0; }

    // Events.
    std::function<void(Dataset &)> OnCalcFields;
    std::function<void(Dataset &)> BeforeScroll;
    std::function<void(Dataset &)> AfterScroll;
    std::function<void(Dataset &)> AfterPost;
    void InvalidateCalcFields(); // calculated values are computed again when read

    // Makes field reads refer to a visible row without moving the cursor or
    // firing events, for grids and colour rules. Nested scopes restore.
    class ActiveRow {
    public:
        ActiveRow(Dataset &ds, int visibleRow);
        struct Physical {
            int row;
        };
        // The stored values of a physical row, also one filtered out.
        ActiveRow(Dataset &ds, Physical physical);
        ~ActiveRow();
        ActiveRow(const ActiveRow &) = delete;
        ActiveRow &operator=(const ActiveRow &) = delete;

    private:
        Dataset &m_ds;
        int m_saved;
    };

Q_SIGNALS:
    // For bound views; not sent while controls are disabled.
    void layoutReset();              // opened, closed, refreshed, refiltered, fields changed
    void rowChanged(int visibleRow); // values of a row changed (posted, edited)
    void rowAppended(int visibleRow);
    void currentChanged(int visibleRow);

private:
    friend class Field;
    void showFirstRow();
    void showRow(Bookmark stayOn); // the first row when stayOn is not shown
    void resetView(int current = 0);
    struct Column;
    struct CalcCache;

    void openRows();

    // Row storage.
    void clearStorage();
    void loadRows(fb::Statement &st);
    QVariant storedValue(int column, int physicalRow) const;
    bool storedNull(int column, int physicalRow) const;
    void storeValue(int column, int physicalRow, const QVariant &value);
    int appendStorageRow();

    // Field access at the active row.
    int activePhysicalRow() const;
    bool usingBuffer() const;
    QVariant fieldValue(const Field &f) const;
    void setFieldValue(Field &f, const QVariant &value);
    const std::vector<QVariant> &calcValues(int physicalRow) const;

    // Cursor helpers.
    void requireActive(const char *what) const;
    void checkBrowse(); // posts a pending edit
    void moveTo(int row, bool fireEvents = true);
    void rebuildView();
    void afterReread(int recNo);
    void notifyChildren();
    void reopenAsDetail();
    void emitReset();

    QString effectiveSelect() const;
    void bindParams(fb::Statement &st, bool post) const;
    fb::Statement &statement(std::unique_ptr<fb::Statement> &slot, const QString &sql);

    fb::Transaction &m_tr;
    QString m_selectSql, m_modifySql, m_insertSql, m_tableName;
    std::vector<std::pair<QString, QVariant>> m_params;
    std::unique_ptr<fb::Statement> m_select, m_modify, m_insert;

    std::vector<std::unique_ptr<Field>> m_fieldPool; // every field ever made
    std::vector<Field *> m_fields;                    // current field list
    std::vector<Column> m_columns;                    // storage, one per data field
    int m_rowCount = 0;                               // physical rows
    std::vector<int> m_view;                          // visible rows -> physical rows
    int m_current = 0;                                // visible row
    int m_activeOverride = -1;                        // physical row of an ActiveRow scope / calc
    bool m_bof = true, m_eof = true;
    DatasetState m_state = DatasetState::Inactive;

    std::vector<QVariant> m_buffer, m_oldBuffer; // edit row, one per data field
    int m_calcSlots = 0;
    std::unique_ptr<CalcCache> m_calc;
    bool m_inCalc = false;

    QString m_filterText;
    bool m_filtered = false;

    Dataset *m_master = nullptr;
    QString m_masterField, m_detailField;
    std::vector<Dataset *> m_children;

    int m_disabled = 0;
    quint64 m_version = 0;
    // What happened while the controls were disabled.
    bool m_pendingReset = false, m_pendingMove = false;
};

} // namespace pc
