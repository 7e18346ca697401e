"""Checks the stub package (stubs/_csv_vestle_backend-stubs) against the live module so the two cannot drift apart."""

import ast
import inspect
import tomllib
from pathlib import Path

import pytest

import _csv_vestle_backend as backend

ROOT = Path(__file__).resolve().parents[2]
STUB_PATH = ROOT / "stubs" / "_csv_vestle_backend-stubs" / "__init__.pyi"
STUB = ast.parse(STUB_PATH.read_text(encoding="utf-8"), filename=str(STUB_PATH))

NO_DEFAULT = "<required>"


def _public(name: str) -> bool:
    return not name.startswith("_")


STUB_FUNCTIONS = {n.name: n for n in STUB.body if isinstance(n, ast.FunctionDef)}
STUB_CLASSES = {n.name: n for n in STUB.body if isinstance(n, ast.ClassDef)}
PUBLIC_CLASSES = {name: node for name, node in STUB_CLASSES.items() if _public(name)}


def _is_property(node: ast.FunctionDef) -> bool:
    return any(isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list)


def _stub_members(cls_name: str) -> dict[str, ast.FunctionDef]:
    return {n.name: n for n in PUBLIC_CLASSES[cls_name].body if isinstance(n, ast.FunctionDef)}


STUB_METHODS = [(c, m) for c in PUBLIC_CLASSES for m, node in _stub_members(c).items()
                if not _is_property(node) and m != "__new__"]
STUB_PROPERTIES = [(c, m) for c in PUBLIC_CLASSES for m, node in _stub_members(c).items()
                   if _is_property(node)]


def _stub_parameters(node: ast.FunctionDef, drop_first: bool) -> list[tuple]:
    """(name, kind, repr of the default) for each parameter of a stub function.

    Defaults are compared by repr so that True and 1, or None and a missing
    default, never pass for one another.
    """
    args = node.args
    positional = [(a, inspect.Parameter.POSITIONAL_ONLY) for a in args.posonlyargs]
    positional += [(a, inspect.Parameter.POSITIONAL_OR_KEYWORD) for a in args.args]
    defaults = [NO_DEFAULT] * (len(positional) - len(args.defaults))
    defaults += [repr(ast.literal_eval(d)) for d in args.defaults]
    params = [(a.arg, kind, d) for (a, kind), d in zip(positional, defaults)]
    if args.vararg:
        params.append((args.vararg.arg, inspect.Parameter.VAR_POSITIONAL, NO_DEFAULT))
    for a, d in zip(args.kwonlyargs, args.kw_defaults):
        params.append((a.arg, inspect.Parameter.KEYWORD_ONLY,
                       NO_DEFAULT if d is None else repr(ast.literal_eval(d))))
    if args.kwarg:
        params.append((args.kwarg.arg, inspect.Parameter.VAR_KEYWORD, NO_DEFAULT))
    return params[1:] if drop_first else params


def _live_parameters(obj: object, drop_first: bool) -> list[tuple]:
    """The same triples from the live object's text signature."""
    params = [(p.name, p.kind, NO_DEFAULT if p.default is p.empty else repr(p.default))
              for p in inspect.signature(obj).parameters.values()]
    return params[1:] if drop_first else params


@pytest.fixture(scope="module")
def instances(tmp_path_factory):
    folder = tmp_path_factory.mktemp("stubs")
    source = folder / "in.csv"
    source.write_bytes(b"a,b,c\n1,2\n3,4,5,6\n")
    summary = backend.vestle_file(str(source), str(folder / "out.csv"))
    return {"VestleSummary": summary, "VestleReader": backend.open(str(source))}


def test_all_lists_the_same_names_in_the_same_order():
    declared = [ast.literal_eval(n.value) for n in STUB.body if isinstance(n, ast.Assign)
                and any(isinstance(t, ast.Name) and t.id == "__all__" for t in n.targets)]
    assert declared == [backend.__all__]


def test_stub_declares_exactly_the_public_module_names():
    stubbed = {name for name in (*STUB_FUNCTIONS, *STUB_CLASSES) if _public(name)}
    live = {name for name in vars(backend) if _public(name)}
    assert stubbed == live


def test_version_is_declared_and_matches_the_distribution():
    annotated = {n.target.id: ast.unparse(n.annotation) for n in STUB.body
                 if isinstance(n, ast.AnnAssign) and isinstance(n.target, ast.Name)}
    assert annotated.get("__version__") == "str"
    project = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))["project"]
    assert backend.__version__ == project["version"]


@pytest.mark.parametrize("name", sorted(STUB_FUNCTIONS))
def test_function_parameters_and_defaults(name):
    assert (_stub_parameters(STUB_FUNCTIONS[name], drop_first=False)
            == _live_parameters(getattr(backend, name), drop_first=False))


def test_reader_constructor_parameters_and_defaults():
    new = _stub_members("VestleReader")["__new__"]
    assert (_stub_parameters(new, drop_first=True)
            == _live_parameters(backend.VestleReader, drop_first=False))


@pytest.mark.parametrize("cls_name, method", STUB_METHODS)
def test_method_parameters_and_defaults(cls_name, method):
    live = getattr(backend, cls_name).__dict__[method]
    assert (_stub_parameters(_stub_members(cls_name)[method], drop_first=True)
            == _live_parameters(live, drop_first=True))


@pytest.mark.parametrize("cls_name", sorted(PUBLIC_CLASSES))
def test_class_members_match(cls_name):
    cls = getattr(backend, cls_name)
    live = {name for name, value in vars(cls).items()
            if _public(name) or (name.startswith("__") and callable(value))}
    assert set(_stub_members(cls_name)) == live


@pytest.mark.parametrize("cls_name, name", STUB_PROPERTIES)
def test_properties_are_read_only_data_descriptors(cls_name, name, instances):
    cls = getattr(backend, cls_name)
    assert inspect.isdatadescriptor(vars(cls)[name])
    with pytest.raises(AttributeError):
        setattr(instances[cls_name], name, getattr(instances[cls_name], name))


@pytest.mark.parametrize("cls_name", sorted(PUBLIC_CLASSES))
def test_classes_marked_final_refuse_subclassing(cls_name):
    decorators = {ast.unparse(d) for d in PUBLIC_CLASSES[cls_name].decorator_list}
    assert "final" in decorators
    with pytest.raises(TypeError):
        type("Sub", (getattr(backend, cls_name),), {})


def test_reader_is_typed_as_an_iterator_of_string_lists(instances):
    bases = [ast.unparse(b) for b in PUBLIC_CLASSES["VestleReader"].bases]
    assert bases == ["Iterator[list[str]]"]
    rows = list(instances["VestleReader"])
    assert rows and all(isinstance(row, list) and all(isinstance(f, str) for f in row)
                        for row in rows)


def test_summary_dict_keys_and_types(instances):
    fields = [(n.target.id, ast.unparse(n.annotation)) for n in STUB_CLASSES["_SummaryDict"].body
              if isinstance(n, ast.AnnAssign)]
    live = instances["VestleSummary"].to_dict()
    assert [name for name, _ in fields] == list(live)
    assert [annotation for _, annotation in fields] == [type(v).__name__ for v in live.values()]


def _documented():
    for name, node in {**STUB_FUNCTIONS, **PUBLIC_CLASSES}.items():
        yield name, node
    for cls_name in PUBLIC_CLASSES:
        for name, node in _stub_members(cls_name).items():
            yield f"{cls_name}.{name}", node


@pytest.mark.parametrize("qualname, node", [(q, n) for q, n in _documented()
                                            if ast.get_docstring(n) is not None])
def test_docstrings_repeat_the_first_line_of_the_live_doc(qualname, node):
    live = backend
    for part in qualname.split("."):
        live = getattr(live, part)
    assert ast.get_docstring(node) == (live.__doc__ or "").split("\n")[0]
