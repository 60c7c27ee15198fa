// Sorts the table by the column whose heading is clicked, again for the other
// way round; cells with a data-key sort by it (addresses, round trips). The
// headings look clickable only once it runs. The page's policy allows this
// script alone, by its hash, which the build computes from this file.
document.querySelector("#hosts").classList.add("sortable");
for (const [column, heading] of document.querySelectorAll("#hosts th").entries()) {
  heading.addEventListener("click", () => {
    const body = document.querySelector("#hosts tbody");
    const up = heading.dataset.order !== "up";
    for (const other of document.querySelectorAll("#hosts th")) delete other.dataset.order;
    heading.dataset.order = up ? "up" : "down";
    const key = row => row.cells[column].dataset.key ?? row.cells[column].textContent;
    const order = (a, b) => {
      const [x, y] = [key(a), key(b)];
      const numbers = x !== "" && y !== "" && !isNaN(x) && !isNaN(y);
      return numbers ? x - y : x.localeCompare(y);
    };
    body.append(...[...body.rows].sort((a, b) => (up ? 1 : -1) * order(a, b)));
  });
}
