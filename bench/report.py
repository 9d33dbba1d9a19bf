"""The benchmark's markdown report and bar chart, from what run_bench.py measured.

    python bench/report.py [bench/results/results.json] [--out DIR]   # draws them again

Every table compares stores measured at one size; ratios never mix sizes.
"""

import argparse
import json
import os

OURS = "quorvane DBEngine"
OTHER_CLASS = "quorvane DBEngineWebServer"  # quorvane's other class: compared apart, not a peer
HIGHER_IS_BETTER = ("docs/s", "gets/s")
SMALLER_IS_BETTER_SIZE = "file size"


def threads_metric(what, threads):
    """The name of a throughput measured from `threads` threads: "gets/s, 4 threads"."""
    return f"{what}, {threads} thread{'s' if threads > 1 else ''}"


def better_ratio(metric, ours, theirs):
    """How many times faster (for the file size: smaller) `ours` is than `theirs`; > 1 means
    `ours` is ahead."""
    if ours is None or theirs is None or ours == 0 or theirs == 0:
        return None
    if any(h in metric for h in HIGHER_IS_BETTER):
        return ours / theirs
    return theirs / ours


def bare(metric):
    """The metric's name without its unit, for the ratio tables and the chart."""
    name = metric.split(" (")[0]
    return name + " (times smaller)" if name == SMALLER_IS_BETTER_SIZE else name


def fmt(v):
    if v is None:
        return "—"
    if abs(v) >= 1000:
        return f"{v:,.0f}"
    if abs(v) >= 10:
        return f"{v:.1f}"
    return f"{v:.2f}"


def fmt_ratio(r):
    if r is None:
        return "—"
    if r >= 100:
        return f"{r:,.0f}×"
    if r >= 10:
        return f"{r:.0f}×"
    return f"{r:.2f}×" if r < 1 else f"{r:.1f}×"


def metrics_of(results):
    metrics = []
    for values in results.values():
        for m in values:
            if m not in metrics:
                metrics.append(m)
    return metrics


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|---" * len(header) + "|"]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return lines


def peers_of(results):
    return [s for s in results if s not in (OURS, OTHER_CLASS)]


def ratios_of(results):
    """{peer: {metric: ratio of quorvane DBEngine to the peer}} for one run."""
    ours = results.get(OURS, {})
    return {p: {m: better_ratio(m, ours.get(m), results[p].get(m)) for m in metrics_of(results)}
            for p in peers_of(results)}


def run_title(run):
    return f"{run['docs']:,} documents"


def notes(data):
    runs = data["runs"]
    singles = " and ".join(f"{r['single']:,} at {r['docs']:,} documents" for r in runs)
    return [
        "How to read it: each size has its own tables, and a ratio compares stores measured at "
        "the same size only. Ratios are how many times faster quorvane DBEngine is than the "
        "peer (for the file size: how many times smaller its files are); above 1 quorvane is "
        "ahead. A peer that cannot do a query (no secondary index, keys not kept in order) "
        "shows —.",
        "",
        f"- Single inserts ({singles}): one insert call per document. quorvane's `insert` only "
        "queues the document; its background writer commits batches of up to 10,000, and the "
        "time includes the `close_engine` that waits for the last commit. In \"peers commit "
        "each\" a peer commits after every insert, as its API does when called that way; in "
        "\"peers in one transaction\" it makes the same calls inside one transaction (sqlite3 "
        "`BEGIN`/`COMMIT`, one lmdb write transaction, diskcache `transact()`, one TinyDB "
        "flush), the fairer comparison with quorvane's batched commit. quorvane has no "
        "transaction to offer: both rows time its same calls.",
        "- Durability per commit: quorvane, sqlite3+json (`synchronous=FULL`) and lmdb+json "
        "(`sync=True`) sync every commit; diskcache runs SQLite with `synchronous=NORMAL`; "
        "TinyDB rewrites its JSON file and never syncs.",
        f"- A read measurement stops after {data.get('budget', 0):g} s; its rate is taken over "
        "the calls made by then.",
        "- quorvane DBEngineWebServer is quorvane's other class (every write also goes to a "
        "write-ahead log): it appears in the figures, not among the peers; the last table "
        "compares the two classes.",
    ]


def write_report(data, out_dir):
    m = data["machine"]
    lines = ["# quorvane benchmark", "",
             f"Machine: {m['cpu']}, {m['cores']} cores, Python {m['python']}, {m['platform']}.  ",
             f"Command: `python {data.get('command', 'bench/run_bench.py')}`"
             + (f" ({data['minutes']:.1f} minutes)." if "minutes" in data else "."), ""]
    lines += notes(data)
    for run in data["runs"]:
        results = run["results"]
        if not results:
            continue
        stores = list(results)
        metrics = metrics_of(results)
        lines += ["", f"## {run_title(run)}: " + ", ".join(stores), ""]
        lines += table(["metric"] + stores,
                       [[mt] + [fmt(results[s].get(mt)) for s in stores] for mt in metrics])
        peers = peers_of(results)
        if OURS in results and peers:
            ratios = ratios_of(results)
            lines += ["", f"Times faster (file size: times smaller), {OURS} against each peer "
                          f"at {run_title(run)}:", ""]
            lines += table(["metric"] + peers,
                           [[bare(mt)] + [fmt_ratio(ratios[p][mt]) for p in peers]
                            for mt in metrics])
    both = [r for r in data["runs"] if OURS in r["results"] and OTHER_CLASS in r["results"]]
    if both:
        lines += ["", "## quorvane's two classes", "",
                  "Times faster (file size: times smaller), DBEngine against DBEngineWebServer:",
                  ""]
        metrics = metrics_of({r["docs"]: r["results"][OURS] for r in both})
        lines += table(["metric"] + [run_title(r) for r in both],
                       [[bare(mt)] + [fmt_ratio(better_ratio(mt, r["results"][OURS].get(mt),
                                                             r["results"][OTHER_CLASS].get(mt)))
                                      for r in both] for mt in metrics])
    lines += ["", "## Floor and thread scaling", ""]
    floor = data.get("floor", {})
    if floor:
        lines.append("Floor, parsing the same stored bytes in Python: " +
                     ", ".join(f"{k} {fmt(v)}" for k, v in floor.items()) + ".")
    for run in data["runs"]:
        ours = run["results"].get(OURS, {})
        if ours.get("get (us)") and floor.get("ujson.loads (us)"):
            lines.append(f"- {run_title(run)}: quorvane `get` takes "
                         f"{ours['get (us)'] / floor['ujson.loads (us)']:.2f}× the time of "
                         "`ujson.loads` of the same document.")
        gets = [(t, ours.get(threads_metric("gets/s", t))) for t in (1, 2, 4, 8)]
        many = [(t, ours.get(threads_metric("get_many docs/s", t))) for t in (1, 4)]
        if all(v for _, v in gets + many):
            lines.append(f"- {run_title(run)}: quorvane DBEngine point gets/s on 1, 2, 4, 8 "
                         "threads: " + ", ".join(fmt(v) for _, v in gets) +
                         "; documents/s read by `get_many` of 100 on 1 and 4 threads: " +
                         ", ".join(fmt(v) for _, v in many) + ".")
    text = "\n".join(lines) + "\n"
    with open(os.path.join(out_dir, "results.md"), "w") as f:
        f.write(text)
    chart(data, os.path.join(out_dir, "ratios.png"))
    return text


def chart(data, path):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        import matplotlib.ticker
    except ImportError:
        return
    runs = [r for r in data["runs"] if OURS in r["results"] and peers_of(r["results"])]
    if not runs:
        return
    all_peers = []
    for r in runs:
        all_peers += [p for p in peers_of(r["results"]) if p not in all_peers]
    colors = {p: c for p, c in zip(all_peers, plt.get_cmap("tab10").colors)}
    metrics = metrics_of({r["docs"]: r["results"][OURS] for r in runs})
    fig, axes = plt.subplots(1, len(runs), figsize=(7.5 * len(runs), 0.62 * len(metrics) + 2.6),
                             sharey=True, squeeze=False)
    for ax, run in zip(axes[0], runs):
        ratios = ratios_of(run["results"])
        peers = list(ratios)
        height = 0.8 / len(peers)
        values = [v for p in peers for v in ratios[p].values() if v]
        lo, hi = min(values + [1]), max(values + [1])
        for k, p in enumerate(peers):
            for i, mt in enumerate(metrics):
                y = i + (k - (len(peers) - 1) / 2) * height
                r = ratios[p].get(mt)
                if r is None:
                    ax.text(1, y, " n/a", va="center", ha="left", fontsize=7, color="gray")
                    continue
                ax.barh(y, r - 1, left=1, height=height * 0.9, color=colors[p],
                        label=p if i == 0 else None)
                ax.text(r, y, f" {fmt_ratio(r)} " if r >= 1 else f"{fmt_ratio(r)} ", va="center",
                        ha="left" if r >= 1 else "right", fontsize=7)
        ax.axvline(1, color="black", linewidth=0.8)
        ax.set_xscale("log")
        ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda x, _: f"{x:g}×"))
        ax.set_xlim(lo / 4, hi * 6)
        ax.set_title(f"{run_title(run)}: " + ", ".join(peers), fontsize=10)
        ax.set_xlabel("times faster (file size: times smaller), log scale; "
                      "left of 1: the peer is ahead", fontsize=8)
        ax.grid(axis="x", which="major", linewidth=0.3)
    axes[0][0].set_yticks(range(len(metrics)))
    axes[0][0].set_yticklabels([bare(mt) for mt in metrics])
    axes[0][0].invert_yaxis()
    fig.suptitle(f"How many times faster {OURS} is than other Python stores "
                 "(file size: how many times smaller); each panel compares one size",
                 fontsize=11)
    handles = [plt.Rectangle((0, 0), 1, 1, color=colors[p]) for p in all_peers]
    fig.legend(handles, [f"{OURS} vs {p}" for p in all_peers], loc="lower center",
               ncol=len(all_peers), frameon=False, fontsize=9)
    fig.tight_layout(rect=(0, 0.05, 1, 0.96))
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("results", nargs="?",
                    default=os.path.join(os.path.dirname(__file__), "results", "results.json"))
    ap.add_argument("--out", help="directory for results.md and ratios.png (default: beside "
                                  "the results file)")
    a = ap.parse_args()
    with open(a.results) as f:
        data = json.load(f)
    print(write_report(data, a.out or os.path.dirname(os.path.abspath(a.results))))


if __name__ == "__main__":
    main()
