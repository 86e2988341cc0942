#include "module/ObjectMap.h"

#include "folder/CShellFolder.h"
#include "module/CComClassFactory.h"
#include "module/CComObject.h"

namespace {

ObjectMapEntry g_shellFolderRow = {
    &CLSID_ShellFolder,
    &CShellFolder::UpdateRegistry,
    &CreateClassFactory,
    &CreateAndQuery<CShellFolder>,
    nullptr,
    0,
    [] { return static_cast<const wchar_t*>(nullptr); },
    [] { return static_cast<const CategoryMapEntry*>(nullptr); },
    [](bool) {},
};

}  // namespace

ObjectMapEntry* const g_objectMapFirst[] = {&g_shellFolderRow};
ObjectMapEntry* const* const g_objectMapLast = g_objectMapFirst + 1;
