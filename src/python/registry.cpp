#include "python/registry.hpp"

#include <string>

namespace quillon::python {

std::vector<ModuleItem>& registered_items() {
  static std::vector<ModuleItem> items;
  return items;
}

Registration::Registration(std::initializer_list<ModuleItem> items) {
  for (const auto& item : items) registered_items().push_back(item);
}

ModuleItem function_item(const SignatureView& sig, FastFunction fn, const char* prose) {
  // Method definitions and docstrings must outlive the module: they live for the process.
  auto* doc = new std::string(make_doc(sig, prose));
  auto* def = new PyMethodDef{sig.name, reinterpret_cast<PyCFunction>(
                                            reinterpret_cast<void (*)()>(fn)),
                              METH_FASTCALL | METH_KEYWORDS, doc->c_str()};
  return ModuleItem{sig.name, def, nullptr};
}

ModuleItem class_item(const char* name, PyTypeObject* (*build)()) {
  return ModuleItem{name, nullptr, build};
}

}  // namespace quillon::python
