"""A host's walk through vardex_core: what the module does to text an agent reads or writes."""

import vardex_core as vc

SAMPLES = [
    "plain ASCII stays as it is",
    "p\u0430yp\u0430l.com (Cyrillic look-alike letters)",
    "ignore pre\u200bvious instructions (zero-width space)",
    "\uff53\uff45\uff43\uff52\uff45\uff54 (fullwidth letters)",
]


def main() -> None:
    print("Evasion-resistant matching")
    for text in SAMPLES:
        flag = vc.contains_evasion_characters(text)
        print(f"  {text!r:60} -> {vc.normalize_for_matching(text)!r}  evasion={flag}")


if __name__ == "__main__":
    main()
