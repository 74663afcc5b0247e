#pragma once
// SetupPage: one page of the setup sheet (CTab), with the life of a property page.
//
// The sheet owns its pages. A page builds its widgets when constructed and is initialised
// (OnInitDialog: fill the lists, load the values) the first time it is shown; pages never
// shown are never initialised and take no part in Apply. The sheet asks the page it leaves
// (and the active page before every Apply) OnKillActive, which may refuse; on Apply and OK
// it calls OnApply of every initialised page. A page reports unapplied changes with
// SetModified, which the sheet turns into the state of its Apply button.
//
// GUI thread only. Failures are refusals (false results); nothing throws.

#include <QWidget>

class SetupPage : public QWidget {
    Q_OBJECT

  public:
    explicit SetupPage(QWidget* parent = nullptr);

    // Tab title.
    virtual QString Title() const = 0;

    bool IsInitialized() const { return initialized_; }
    bool IsModified() const { return modified_; }

    // The page is about to be left, or the sheet is about to apply: false keeps the page
    // (it has told the operator why).
    virtual bool OnKillActive() { return true; }
    // Takes over the page's values; false when they cannot be taken (the sheet then shows
    // the page and stops).
    virtual bool OnApply();

  signals:
    void modifiedChanged();

  protected:
    // Runs once, before the page is first shown.
    virtual void OnInitDialog() {}
    // Every time the page is shown or hidden (after OnInitDialog on the first showing).
    virtual void OnShown() {}
    virtual void OnHidden() {}

    void SetModified(bool modified);

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    bool initialized_ = false;
    bool modified_ = false;
};
