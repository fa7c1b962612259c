#pragma once
// TzIni: a non-visual component that reads and writes one flat settings file
// of name=value lines (no sections), can encipher the values it writes, and
// can remember its owner form's position and size between runs.
//
// The file: 8-bit text, every written line ending in CR LF. A line holding "="
// is an entry (name before the first "=", value after it, nothing trimmed);
// any other line is kept where it is and never matches. Names compare
// case-insensitively by the locale-aware comparison; the first line of a name
// counts for reading, overwriting and deleting.
//
// Every read scans the file on disk afresh. Every write or delete made while
// the store is idle is a whole round of load, change and replace; between
// Edit (which returned false) and Post, writes change only the working copy.
// The file is never rewritten in place: Post writes a temporary file in the
// same folder, flushes it and renames it over the old one, so a killed process
// or a full disk leaves the complete old or the complete new file. A new file
// is readable and writable by its owner only; a replaced file keeps its mode;
// a read-only file is refused (EFCreateError), and a symbolic link is written
// through and kept.
//
// Errors: EzIniError for misuse and for values that cannot stand in a line;
// EInOutError when an existing file cannot be read; EFOpenError when it cannot
// be loaded for editing; EFCreateError when it cannot be written.
//
// The owner. The store puts its own window procedure in front of the owner
// form's window; after that window has handled WM_DESTROY, and when the store
// dies with its owner (the framework frees a form's components before its
// window), the form's placement is saved. Loaded() derives an empty FileName
// from FileNameAutoSet and restores the placement. A store made while the
// application's main form exists, on another form, starts with the settings of
// the main form's first store.
//
// Threads: a store and everything it does belong to the main thread; it takes
// no locks.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/exceptions.h"
#include "ini/ini_text.h"

namespace fw {
class TForm;
}

// The store's own error, with fixed English messages.
class EzIniError : public fw::Exception {
public:
    using fw::Exception::Exception;
};

// The platform's file errors, as the run-time library raises them. ErrorCode
// is the Windows error number of the failure (ERROR_ACCESS_DENIED, ...).
class EInOutError : public fw::Exception {
public:
    EInOutError(const std::string& message, int errorCode)
        : fw::Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};
class EFOpenError : public fw::Exception {
public:
    using fw::Exception::Exception;
};
class EFCreateError : public fw::Exception {
public:
    using fw::Exception::Exception;
};

// The entries of a settings file as one read found them. It answers FindValue,
// ReadString and ReadInteger as TzIni would have at that moment, for callers
// that read many names at once (a whole list): the file is read once, and
// each name is found without a scan.
class TzIniEntries {
public:
    TzIniEntries() = default;
    explicit TzIniEntries(zini::TLineList lines) : Lines(std::move(lines)) {}

    bool FindValue(const std::string& name, std::string& value) const;
    std::string ReadString(const std::string& name, const std::string& defaultValue) const;
    std::int32_t ReadInteger(const std::string& name, std::int32_t defaultValue) const;
    // The entry names in line order.
    std::vector<std::string_view> Names() const { return Lines.EntryNames(); }

private:
    zini::TLineList Lines;
};

enum TFormSaveFormat { fsfNone = 0, fsfSize = 1, fsfPosition = 2, fsfBoth = 3 };
enum TFormSavePlace { fspNone = 0, fspWinDir = 1, fspAppDir = 2 };

class TzIni : public fw::TComponent {
public:
    // AOwner must be a form (else fw::EInvalidOperation), or nullptr for a
    // store without placement.
    explicit TzIni(fw::TComponent* AOwner);
    ~TzIni() override;

    // Published properties.
    const std::string& FileName() const { return FFileName; }
    // A text that differs (case-sensitively) is stored and the owner form's
    // placement is loaded from it.
    void SetFileName(const std::string& value);
    TFormSaveFormat FormSave() const { return FFormSave; }
    void SetFormSave(TFormSaveFormat value) { FFormSave = value; }
    TFormSavePlace FileNameAutoSet() const { return FFileNameAutoSet; }
    void SetFileNameAutoSet(TFormSavePlace value) { FFileNameAutoSet = value; }
    bool EncryptValues() const { return FEncryptValues; }
    void SetEncryptValues(bool value) { FEncryptValues = value; }

    // True when already in edit mode (nothing done); false when this call
    // loaded a working copy, and then the caller must Post. A missing file is
    // created empty when its folder exists, else EzIniError "Can't create
    // file:\r" + FileName; a failed Edit leaves the store idle.
    bool Edit();
    // Replaces the file with the working copy and leaves edit mode. Without a
    // working copy EzIniError "Post: Not edit mode". When the file cannot be
    // written, EFCreateError; the file is untouched and the store stays in edit
    // mode with its working copy.
    void Post();
    // Leaves edit mode without writing: the working copy is dropped and the
    // file stays as it is. Nothing happens when idle.
    void Cancel() { Working.reset(); }
    bool InEditMode() const { return Working.has_value(); }
    // The working copy's entry names in line order (empty when idle).
    std::vector<std::string_view> WorkingNames() const;

    // Reads the file on disk (never the working copy). False when the file or
    // the name is absent; then value is left as it was.
    bool FindValue(const std::string& name, std::string& value) const;
    std::string ReadString(const std::string& name, const std::string& defaultValue) const;
    std::int32_t ReadInteger(const std::string& name, std::int32_t defaultValue) const;
    // The whole file in one read (no entries when it is absent); raises as
    // FindValue does.
    TzIniEntries ReadEntries() const;

    // Writes and deletes. Outside an Edit/Post bracket each is a complete round
    // that either replaces the file or raises and leaves the store idle with
    // the file as it was. A value that, as it would be stored, holds CR, LF or
    // NUL (or a name that does) raises EzIniError naming the key and changes
    // nothing.
    void WriteString(const std::string& name, const std::string& value, bool encrypt);
    void WriteInteger(const std::string& name, std::int32_t value, bool encrypt);
    void DeleteKey(const std::string& name);

    // Restore and store the owner form's bounds; nothing without an owner.
    void LoadFormPlacement();
    void SaveFormPlacement();
    // Derives an empty FileName from FileNameAutoSet, then LoadFormPlacement.
    void Loaded() override;

    static std::string EncryptValue(const std::string& value);
    static std::string DecryptValue(const std::string& value);
    // With the user's thousands and decimal separators.
    static std::int32_t NumberTextToInt(const std::string& text);
    static double NumberTextToFloat(const std::string& text);
    static std::string CleanNumberText(const std::string& text);

private:
    struct Hook;
    void HookOwner();
    void UnhookOwner();
    std::string OwnerClassName();
    // Runs `change` on the working copy inside an edit round of its own,
    // unless the caller has one open: Edit, change, Post.
    template <class Change>
    void InRound(Change change);

    std::string FFileName;
    TFormSaveFormat FFormSave = fsfBoth;
    TFormSavePlace FFileNameAutoSet = fspAppDir;
    bool FEncryptValues = false;
    std::optional<zini::TLineList> Working;
    fw::TForm* OwnerForm = nullptr;
    std::string FOwnerClassName;
    std::shared_ptr<Hook> FHook;
};

// A batch of writes and deletes that reaches the file as one replace, or not
// at all. Made on an idle store it opens the edit bracket (raising as Edit
// does); Commit posts it; a batch that ends without Commit (an exception
// left the writes) cancels it, so the file stays as it was. Made on a store
// that is already in edit mode it only joins that bracket: its owner posts.
class TzIniBatch {
public:
    explicit TzIniBatch(TzIni& ini) : Ini(ini), Joined(ini.Edit()) {}
    ~TzIniBatch() {
        if (!Joined && !Done)
            Ini.Cancel();
    }
    TzIniBatch(const TzIniBatch&) = delete;
    TzIniBatch& operator=(const TzIniBatch&) = delete;

    // Posts the batch (raising as Post does; the file is then untouched and
    // the batch is dropped when it ends).
    void Commit() {
        if (!Joined)
            Ini.Post();
        Done = true;
    }

private:
    TzIni& Ini;
    const bool Joined;
    bool Done = false;
};
