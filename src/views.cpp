#include "views.hpp"

#include "types.hpp"

namespace morvelan::py {

namespace {

void view_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    auto* o = reinterpret_cast<ViewObject*>(self);
    delete o->state;
    o->state = nullptr;
    Py_CLEAR(o->document);
    free_instance(self);
}

int view_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<ViewObject*>(self)->document);
    return 0;
}

int view_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<ViewObject*>(self)->document);
    return 0;
}

PyObject* make_view_type(const char* qualified, const char* name, const char* doc) {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(view_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(view_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(view_clear)},
        {0, nullptr},
    };
    PyType_Spec spec = {qualified, sizeof(ViewObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return make_type(&spec, nullptr, name);
}

}  // namespace

PyObject* keys_view_type() {
    static PyObject* type = nullptr;
    if (!type) type = make_view_type(
        "morvelan.KeysView", "KeysView", "A live view of the string keys in a TOML table (or the document root).");
    return type;
}

PyObject* values_view_type() {
    static PyObject* type = nullptr;
    if (!type) type = make_view_type("morvelan.ValuesView", "ValuesView",
                                           "A live view of the values in a TOML table (or the document root).");
    return type;
}

PyObject* items_view_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = make_view_type("morvelan.ItemsView", "ItemsView",
                              "A live view of the (key, value) pairs in a TOML table (or the document root).");
    return type;
}

}  // namespace morvelan::py
