#include "item_proxy.hpp"

#include "types.hpp"

namespace morvelan::py {

namespace {

void item_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    auto* o = reinterpret_cast<ItemObject*>(self);
    delete o->state;
    o->state = nullptr;
    Py_CLEAR(o->document);
    free_instance(self);
}

int item_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<ItemObject*>(self)->document);
    return 0;
}

int item_clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<ItemObject*>(self)->document);
    return 0;
}

PyObject* make_item_type(const char* qualified, const char* name, const char* doc, unsigned long extra_flags,
                         PyObject* base) {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(item_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(item_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(item_clear)},
        {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
        {0, nullptr},
    };
    PyType_Spec spec = {qualified, sizeof(ItemObject), 0,
                        static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION | extra_flags),
                        slots};
    Ref bases;
    if (base) {
        bases = Ref::steal(PyTuple_Pack(1, base));
        if (!bases) return nullptr;
    }
    return make_type(&spec, bases.get(), name);
}

}  // namespace

PyObject* item_type() {
    static PyObject* type = nullptr;
    if (!type) type = make_item_type(
        "morvelan.Item", "Item",
        "A live reference to a TOML value inside a Document.\n\n"
        "An Item is really a path into the Document. It can become stale when a mutation to the\n"
        "Document changes the value that it points at. Using a stale Item raises a RuntimeError.",
        Py_TPFLAGS_BASETYPE, nullptr);
    return type;
}

PyObject* dict_item_type() {
    static PyObject* type = nullptr;
    if (!type) type = [] {
        PyObject* base = item_type();
        if (!base) return static_cast<PyObject*>(nullptr);
        return make_item_type("morvelan.DictItem", "DictItem",
                              "A TOML table or inline table.\n\n"
                              "Registered as a collections.abc.MutableMapping, so both\n"
                              "isinstance(x, MutableMapping) and isinstance(x, DictItem) work.",
                              0, base);
    }();
    return type;
}

PyObject* list_item_type() {
    static PyObject* type = nullptr;
    if (!type) type = [] {
        PyObject* base = item_type();
        if (!base) return static_cast<PyObject*>(nullptr);
        return make_item_type("morvelan.ListItem", "ListItem",
                              "A TOML array or array of tables.\n\n"
                              "Registered as a collections.abc.MutableSequence, so both\n"
                              "isinstance(x, MutableSequence) and isinstance(x, ListItem) work.",
                              0, base);
    }();
    return type;
}

PyObject* scalar_item_type() {
    static PyObject* type = nullptr;
    if (!type) type = [] {
        PyObject* base = item_type();
        if (!base) return static_cast<PyObject*>(nullptr);
        return make_item_type("morvelan.ScalarItem", "ScalarItem",
                              "A scalar TOML value (string, integer, float, boolean, datetime, date, or time).", 0,
                              base);
    }();
    return type;
}

bool is_item(PyObject* o) noexcept {
    PyObject* type = item_type();
    return type && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type));
}

}  // namespace morvelan::py
