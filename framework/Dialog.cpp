// Modal dialogs: a static procedure finds the object and forwards to it.
#include "framework/Dialog.h"

namespace {
const char kDialogProp[] = "FwDialogObject";
}

CDialog::CDialog(UINT nIDTemplate, HWND hParent) : m_nIDTemplate(nIDTemplate), m_hParent(hParent) {}

CDialog::~CDialog() {
    // No message may reach a half-destroyed object.
    if (m_hWnd && IsWindow(m_hWnd)) RemovePropA(m_hWnd, kDialogProp);
    m_hWnd = nullptr;
}

INT_PTR CDialog::DoModal() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nIDTemplate), m_hParent,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) { return false; }

void CDialog::EndDialog(INT_PTR nResult) {
    if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (nMsg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hwnd;
        SetPropA(hwnd, kDialogProp, self);
    } else {
        self = static_cast<CDialog*>(GetPropA(hwnd, kDialogProp));
    }
    if (!self) return FALSE;
    INT_PTR result = self->Dispatch(nMsg, wParam, lParam);
    if (nMsg == WM_NCDESTROY) {
        RemovePropA(hwnd, kDialogProp);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialog::Dispatch(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_INITDIALOG) return OnInitDialog();
    INT_PTR result = FALSE;
    if (OnMessage(nMsg, wParam, lParam, &result)) return result;
    // Enter and the default button arrive as IDOK, Esc as IDCANCEL.
    if (nMsg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}
