// Declarations: the fields of parameters, locals, constants and return
// values, made with the store's field builders.
#include "compiler/codegenimpl.h"

namespace tq::compiler {

namespace {

// True when e can be worked out without running any code: literals and
// operators and built-in functions over them.
bool IsConstantExpr(const Expr* e) {
    if (!e) return false;
    switch (e->kind) {
    case ExprKind::Integer:
    case ExprKind::Double:
    case ExprKind::String:
    case ExprKind::Nothing:
    case ExprKind::Bool: return true;
    case ExprKind::Binary: {
        const auto& b = static_cast<const BinaryExpr&>(*e);
        return b.op != BinaryOp::TypeOf && IsConstantExpr(b.left) && IsConstantExpr(b.right);
    }
    case ExprKind::Unary: return IsConstantExpr(static_cast<const UnaryExpr&>(*e).operand);
    case ExprKind::Intrinsic: {
        const auto& i = static_cast<const IntrinsicExpr&>(*e);
        // Rnd draws a new number each time, and the bounds need an array.
        if (i.fn == Builtin::Rnd || InfoOf(i.fn).family == BuiltinFamily::Bound) return false;
        for (const Expr* a : i.args)
            if (!IsConstantExpr(a)) return false;
        return true;
    }
    default: return false;
    }
}

// An array bound: a whole number written as a literal.
bool BoundValue(const Expr* e, int32_t& out) {
    if (!e || e->kind != ExprKind::Integer) return false;
    out = static_cast<const IntegerExpr*>(e)->value;
    return true;
}

}  // namespace

bool Generator::claimName(std::string_view name, SourcePos pos) {
    if (!claimed_.insert(FoldCase(name)).second) {
        error(pos, "'" + std::string(name) + "' is already declared in this procedure");
        return false;
    }
    return true;
}

InterDataField* Generator::field(std::string_view name, uint8_t suffix, const TypeRef& type, bool isArray,
                                 const List<Bound>& dims, int byValue, SourcePos pos) {
    const std::string& spelled = spelling(name);
    IdType code = static_cast<IdType>(suffix);
    std::string typeName;
    EnumRep* enumeration = nullptr;
    switch (type.kind) {
    case TypeKind::None: break;
    case TypeKind::Variant:
        error(type.pos, "'Variant' is not supported: give '" + std::string(name) + "' a type");
        return nullptr;
    case TypeKind::Named: {
        typeName = std::string(type.name);
        if (options_.declaredSpelling) {
            const std::string_view known = options_.declaredSpelling(type.name);
            if (!known.empty()) typeName = std::string(known);
        }
        enumeration = EnumRep::find(typeName.c_str());
        if (!enumeration && options_.isPrototypeName && !options_.isPrototypeName(typeName)) {
            error(type.pos, "unknown type '" + std::string(type.name) + "': no enumeration or object of that name");
            return nullptr;
        }
        if (!enumeration) code = IDT_OBJECT;
        break;
    }
    default: code = static_cast<IdType>(type.kind); break;
    }
    const char* protoName = typeName.empty() ? nullptr : typeName.c_str();
    try {
        if (isArray) {
            if (enumeration || type.isNew) {
                error(type.pos, "an array cannot hold " +
                                    std::string(enumeration ? "enumeration values" : "embedded objects"));
                return nullptr;
            }
            if (code == IDT_UNTYPED) code = IDT_LONG;
            // An array parameter names the caller's array.
            if (byValue == 0) return new ArrayReferenceField(spelled.c_str(), code);
            if (dims.size() > static_cast<size_t>(ArrayField::kMaxDimensions)) {
                error(pos, "an array has at most " + std::to_string(ArrayField::kMaxDimensions) + " dimensions");
                return nullptr;
            }
            std::unique_ptr<InterArrayField> f(
                InterArrayField::make(spelled.c_str(), code, static_cast<int32_t>(dims.size()), protoName));
            for (size_t i = 0; i < dims.size(); ++i) {
                int32_t lower = 0, upper = 0;
                if ((dims[i].lower && !BoundValue(dims[i].lower, lower)) || !BoundValue(dims[i].upper, upper)) {
                    error(dims[i].upper ? dims[i].upper->pos : pos,
                          "the bounds of an array must be whole numbers written out");
                    return nullptr;
                }
                f->defineBounds(static_cast<int32_t>(i), lower, upper);
            }
            return f.release();
        }
        if (enumeration) return InterEnumField::make(spelled.c_str(), enumeration, byValue);
        if (type.isNew) {
            if (byValue == 0) {
                error(type.pos, "a parameter cannot be an embedded object ('As New')");
                return nullptr;
            }
            return new EmbedObjField(spelled.c_str(), protoName);
        }
        if (type.strictly && byValue != 0) return new StrictInterObjField(spelled.c_str(), protoName);
        InterDataField* f = InterDataField::make(spelled.c_str(), code, byValue, protoName);
        if (!f) error(pos, "'" + std::string(name) + "' cannot have this type");
        return f;
    } catch (const StoreException& e) {
        error(pos, e.what());
        return nullptr;
    }
}

ValuePtr Generator::constantValue(const Expr* e, IdType type, SourcePos pos) {
    if (!IsConstantExpr(e)) {
        error(e ? e->pos : pos, "a constant's value must be worked out from literals alone");
        return nullptr;
    }
    ExprPtr node = expr(e);
    if (!node) return nullptr;
    try {
        Context none;
        ValuePtr v = node->eval(none, EVAL_VALUE_REQUIRED);
        if (v && type != IDT_UNTYPED && v->type() != type) v = DirectValueClassFactory(type, v.get());
        return v;
    } catch (const StoreException& x) {
        error(e->pos, std::string("the constant's value cannot be worked out: ") + x.what());
        return nullptr;
    }
}

void Generator::declare(const DeclStmt& d) {
    for (const Declarator& v : d.vars) {
        if (!claimName(v.name, v.pos)) continue;
        if (d.decl == DeclKind::Const) {
            IdType type = static_cast<IdType>(v.suffix);
            if (v.type.kind != TypeKind::None && v.type.kind != TypeKind::Named)
                type = static_cast<IdType>(v.type.kind);
            ValuePtr value = constantValue(v.value, type, v.pos);
            if (!value) continue;
            TypeRef t = v.type;
            if (t.kind == TypeKind::None && v.suffix == 0) t.kind = static_cast<TypeKind>(value->type() & IDT_TYPEMASK);
            InterDataField* f = field(v.name, v.suffix, t, false, v.dims, 1, v.pos);
            if (!f) continue;
            f->setFlags(static_cast<uint8_t>(f->flags() | Field::kConst));
            try {
                locals_->addConstVar(f, value.get());
            } catch (const StoreException& x) {
                error(v.pos, x.what());
            }
            continue;
        }
        InterDataField* f = field(v.name, v.suffix, v.type, v.isArray, v.dims, 1, v.pos);
        if (!f) continue;
        try {
            if (d.decl == DeclKind::Static)
                locals_->addStaticLocalVar(f, nullptr);
            else
                locals_->addLocalVar(f);
        } catch (const StoreException& x) {
            error(v.pos, x.what());
        }
    }
}

}  // namespace tq::compiler
