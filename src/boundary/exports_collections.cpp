// Host collections: string lists and out strings owned by the host through handles. Running
// out of memory gives a null handle or an unchanged list, never an exception across the
// boundary.
#include <memory>
#include <string>
#include <vector>

#include "boundary/collections.hpp"
#include "boundary/guard.hpp"
#include "kivmod/kivmod.h"
#include "platform/text.hpp"

extern "C" {

KIV_API KivStringList* Kiv_StringList_New(void) {
  return kiv::Guarded<KivStringList*>("Kiv_StringList_New", nullptr,
                                      [] { return std::make_unique<KivStringList>().release(); });
}

KIV_API void Kiv_StringList_Add(KivStringList* list, const KivChar* text) {
  kiv::GuardedVoid("Kiv_StringList_Add", [&] {
    if (list) list->items.push_back(kiv::FromHost(text));
  });
}

KIV_API int32_t Kiv_StringList_Count(const KivStringList* list) {
  return list ? static_cast<int32_t>(list->items.size()) : 0;
}

KIV_API const KivChar* Kiv_StringList_At(const KivStringList* list, int32_t index) {
  if (!list || index < 0 || static_cast<std::size_t>(index) >= list->items.size()) return nullptr;
  return kiv::AsKiv(list->items[static_cast<std::size_t>(index)].c_str());
}

KIV_API void Kiv_StringList_Free(KivStringList* list) { std::unique_ptr<KivStringList> owned(list); }

KIV_API KivString* Kiv_String_New(void) {
  return kiv::Guarded<KivString*>("Kiv_String_New", nullptr, [] { return std::make_unique<KivString>().release(); });
}

KIV_API const KivChar* Kiv_String_Get(const KivString* str) { return kiv::AsKiv(str ? str->text.c_str() : u""); }

KIV_API void Kiv_String_Free(KivString* str) { std::unique_ptr<KivString> owned(str); }

}  // extern "C"
