#pragma once

// Which Common-Controls assembly the calling thread's activation context (or, on a thread without
// one, the process default) maps comctl32.dll to: its encoded identity, empty when none.
#include <string>
#include <vector>
#include <windows.h>

inline std::wstring comctl32_assembly_identity() {
    ACTCTX_SECTION_KEYED_DATA found{};
    found.cbSize = sizeof found;
    if (!FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                  ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                  &found)) {
        return {};
    }
    std::vector<char> buffer(4096);
    SIZE_T needed = 0;
    DWORD index = found.ulAssemblyRosterIndex;
    std::wstring identity;
    if (QueryActCtxW(0, found.hActCtx, &index, AssemblyDetailedInformationInActivationContext,
                     buffer.data(), buffer.size(), &needed)) {
        const auto* assembly =
            reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(
                buffer.data());
        identity.assign(assembly->lpAssemblyEncodedAssemblyIdentity,
                        assembly->ulEncodedAssemblyIdentityLength / sizeof(wchar_t));
    }
    ReleaseActCtx(found.hActCtx);
    return identity;
}

inline bool is_common_controls_6(const std::wstring& identity) {
    return identity.find(L"Microsoft.Windows.Common-Controls") != std::wstring::npos &&
           identity.find(L"version=\"6.") != std::wstring::npos;
}
