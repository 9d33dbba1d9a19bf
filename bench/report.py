"""The benchmark's markdown table and bar chart of ratios."""

import os

HIGHER_IS_BETTER = ("docs/s", "gets/s")


def better_ratio(metric, ours, theirs):
    """How many times better quorvane is than the peer (> 1: quorvane is better)."""
    if ours is None or theirs is None or ours == 0 or theirs == 0:
        return None
    if any(h in metric for h in HIGHER_IS_BETTER):
        return ours / theirs
    return theirs / ours


def fmt(v):
    if v is None:
        return "—"
    if abs(v) >= 1000:
        return f"{v:,.0f}"
    if abs(v) >= 10:
        return f"{v:.1f}"
    return f"{v:.2f}"


def write_report(machine, results, out_dir):
    ours_name = "quorvane DBEngine"
    stores = [s for s in results if s != "floor"]
    metrics = []
    for s in stores:
        for m in results[s]:
            if m != "docs" and m not in metrics:
                metrics.append(m)
    lines = [f"Machine: {machine['cpu']}, {machine['cores']} cores, Python {machine['python']}, "
             f"{machine['platform']}", ""]
    lines.append("| metric | " + " | ".join(f"{s} ({results[s]['docs']:,} docs)" for s in stores) + " |")
    lines.append("|---" * (len(stores) + 1) + "|")
    for m in metrics:
        lines.append(f"| {m} | " + " | ".join(fmt(results[s].get(m)) for s in stores) + " |")
    ours = results.get(ours_name, {})
    lines += ["", f"Ratios: how many times better {ours_name} is (higher is better)", ""]
    peers = [s for s in stores if s != ours_name]
    lines.append("| metric | " + " | ".join(peers) + " |")
    lines.append("|---" * (len(peers) + 1) + "|")
    ratios = {}
    for m in metrics:
        row = []
        for p in peers:
            r = better_ratio(m, ours.get(m), results[p].get(m))
            ratios.setdefault(p, {})[m] = r
            row.append(fmt(r) + ("×" if r is not None else ""))
        lines.append(f"| {m} | " + " | ".join(row) + " |")
    floor = results.get("floor", {})
    if floor:
        lines += ["", "Floor (same stored bytes): " + ", ".join(f"{k} {fmt(v)}" for k, v in floor.items())]
        if ours.get("get (us)") and floor.get("ujson.loads (us)"):
            lines.append(f"quorvane get / ujson.loads: {ours['get (us)'] / floor['ujson.loads (us)']:.2f}×")
    for what, one, four in (("gets", "gets/s, 1 threads", "gets/s, 4 threads"),
                            ("get_many 100", "get_many 100 docs/s, 1 threads",
                             "get_many 100 docs/s, 4 threads")):
        if ours.get(one) and ours.get(four):
            lines.append(f"quorvane {what}, 4 threads / 1 thread: {ours[four] / ours[one]:.2f}×")
    server = results.get("quorvane DBEngineWebServer", {})
    if server.get("bulk load (docs/s)") and ours.get("bulk load (docs/s)"):
        lines.append("quorvane DBEngine bulk load / DBEngineWebServer bulk load: "
                     f"{ours['bulk load (docs/s)'] / server['bulk load (docs/s)']:.2f}×")
    text = "\n".join(lines) + "\n"
    with open(os.path.join(out_dir, "results.md"), "w") as f:
        f.write(text)
    chart(ratios, os.path.join(out_dir, "ratios.png"), ours_name)
    return text


def chart(ratios, path, ours_name):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return
    peers = list(ratios)
    metrics = [m for m in next(iter(ratios.values()), {})] if ratios else []
    if not metrics:
        return
    fig, ax = plt.subplots(figsize=(12, 6))
    width = 0.8 / max(1, len(peers))
    for n, p in enumerate(peers):
        vals = [ratios[p].get(m) or 0 for m in metrics]
        ax.bar([i + n * width for i in range(len(metrics))], vals, width, label=p)
    ax.axhline(1, color="black", linewidth=0.8)
    ax.set_yscale("log")
    ax.set_xticks([i + width * (len(peers) - 1) / 2 for i in range(len(metrics))])
    ax.set_xticklabels(metrics, rotation=30, ha="right")
    ax.set_ylabel(f"times better ({ours_name} vs peer, log scale)")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=110)
