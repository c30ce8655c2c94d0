// A modal dialog from a template, with message dispatch to overridable handlers.
#pragma once

#include <windows.h>

class CDialog {
public:
    explicit CDialog(UINT nIDTemplate, HWND hParent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; IDOK, IDCANCEL, or -1 when it can't be created.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }

    HWND m_hWnd = nullptr;

protected:
    // TRUE lets the dialog manager put the focus on the first control.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // Any other message. Return true when handled and put the dialog
    // procedure's result in *pResult; false gives the default processing.
    virtual bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, INT_PTR* pResult);
    void EndDialog(INT_PTR nResult);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT nMsg, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    HWND m_hParent;
};
